// Proves that the show's frame loop allocates nothing: every global allocation function of this
// program is counted while thousands of frames run.
//
// operator new and delete are replaced here; malloc, calloc, realloc, aligned_alloc,
// posix_memalign and free are wrapped by the linker (--wrap) in this program and the static
// libraries linked into it, which hold all of the show's code.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>

#include "show/show.h"

extern "C" {
void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* pointer, std::size_t size);
void* __real_aligned_alloc(std::size_t alignment, std::size_t size);
int __real_posix_memalign(void** pointer, std::size_t alignment, std::size_t size);
void __real_free(void* pointer);
}

namespace {

using namespace show;

// Calls of allocation and release functions while counting is on.
struct AllocationCounts {
  bool counting = false;
  std::uint64_t allocations = 0;
  std::uint64_t releases = 0;
};
AllocationCounts counts;

void CountAllocation() {
  if (counts.counting) ++counts.allocations;
}
void CountRelease() {
  if (counts.counting) ++counts.releases;
}

void* AllocateOrThrow(std::size_t size) {
  void* pointer = __real_malloc(size == 0 ? 1 : size);
  if (pointer == nullptr) throw std::bad_alloc();
  return pointer;
}

void* AllocateAlignedOrThrow(std::size_t size, std::align_val_t alignment) {
  void* pointer = nullptr;
  const std::size_t bytes =
      static_cast<std::size_t>(alignment) < sizeof(void*) ? sizeof(void*) : static_cast<std::size_t>(alignment);
  if (__real_posix_memalign(&pointer, bytes, size == 0 ? 1 : size) != 0) throw std::bad_alloc();
  return pointer;
}

} // namespace

extern "C" {
void* __wrap_malloc(std::size_t size) {
  CountAllocation();
  return __real_malloc(size);
}
void* __wrap_calloc(std::size_t count, std::size_t size) {
  CountAllocation();
  return __real_calloc(count, size);
}
void* __wrap_realloc(void* pointer, std::size_t size) {
  CountAllocation();
  return __real_realloc(pointer, size);
}
void* __wrap_aligned_alloc(std::size_t alignment, std::size_t size) {
  CountAllocation();
  return __real_aligned_alloc(alignment, size);
}
int __wrap_posix_memalign(void** pointer, std::size_t alignment, std::size_t size) {
  CountAllocation();
  return __real_posix_memalign(pointer, alignment, size);
}
void __wrap_free(void* pointer) {
  CountRelease();
  __real_free(pointer);
}
}

void* operator new(std::size_t size) {
  CountAllocation();
  return AllocateOrThrow(size);
}
void* operator new[](std::size_t size) {
  CountAllocation();
  return AllocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  CountAllocation();
  return __real_malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  CountAllocation();
  return __real_malloc(size == 0 ? 1 : size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  CountAllocation();
  return AllocateAlignedOrThrow(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  CountAllocation();
  return AllocateAlignedOrThrow(size, alignment);
}
void operator delete(void* pointer) noexcept {
  CountRelease();
  __real_free(pointer);
}
void operator delete[](void* pointer) noexcept {
  CountRelease();
  __real_free(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
  CountRelease();
  __real_free(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept {
  CountRelease();
  __real_free(pointer);
}
void operator delete(void* pointer, std::align_val_t) noexcept {
  CountRelease();
  __real_free(pointer);
}
void operator delete[](void* pointer, std::align_val_t) noexcept {
  CountRelease();
  __real_free(pointer);
}
void operator delete(void* pointer, std::size_t, std::align_val_t) noexcept {
  CountRelease();
  __real_free(pointer);
}
void operator delete[](void* pointer, std::size_t, std::align_val_t) noexcept {
  CountRelease();
  __real_free(pointer);
}

namespace {

// Keeps the compiler from removing an allocation whose result nothing else uses.
void* volatile keep = nullptr;

struct AllocatingCall {
  const char* name;
  std::function<void()> call;
};

// Each of these must be counted, or a loop that allocates could pass unseen.
TEST(AllocationCounting, SeesEveryAllocationFunction) {
  struct alignas(64) Aligned {
    char bytes[64];
  };
  const AllocatingCall calls[] = {
      {"malloc",
       [] {
         keep = std::malloc(16);
         std::free(keep);
       }},
      {"calloc",
       [] {
         keep = std::calloc(4, 4);
         std::free(keep);
       }},
      {"realloc",
       [] {
         keep = std::realloc(nullptr, 16);
         std::free(keep);
       }},
      {"aligned_alloc",
       [] {
         keep = std::aligned_alloc(64, 64);
         std::free(keep);
       }},
      {"posix_memalign",
       [] {
         void* p = nullptr;
         if (posix_memalign(&p, 64, 64) == 0) keep = p;
         std::free(keep);
       }},
      {"new",
       [] {
         keep = new int(1);
         delete static_cast<int*>(keep);
       }},
      {"new[]",
       [] {
         keep = new int[4];
         delete[] static_cast<int*>(keep);
       }},
      {"nothrow new",
       [] {
         keep = new (std::nothrow) int(1);
         delete static_cast<int*>(keep);
       }},
      {"aligned new",
       [] {
         keep = new Aligned;
         delete static_cast<Aligned*>(keep);
       }},
      {"a growing string",
       [] {
         std::string text(100, 'x');
         keep = text.data();
       }},
  };
  for (const AllocatingCall& c : calls) {
    counts = {true, 0, 0};
    c.call();
    const AllocationCounts seen = counts;
    counts = {};
    EXPECT_EQ(seen.allocations, 1u) << c.name;
    EXPECT_EQ(seen.releases, 1u) << c.name;
  }
}

// Turns counting on at one frame and off at another, and sees what the frames did meanwhile.
class CountingObserver final : public ShowObserver {
public:
  CountingObserver(std::uint64_t firstFrame, std::uint64_t lastFrame)
      : firstFrame_(firstFrame), lastFrame_(lastFrame) {}
  void AfterLaunchDecision(std::uint64_t frame, double, double sinceLaunch) override {
    if (frame == firstFrame_) counts = {true, 0, 0};
    if (frame > firstFrame_ && sinceLaunch == 0.0) ++launches;
    if (frame == lastFrame_) {
      counted = counts;
      counts = {};
    }
  }
  AllocationCounts counted;
  std::uint64_t launches = 0;

private:
  std::uint64_t firstFrame_;
  std::uint64_t lastFrame_;
};

TEST(Show, TheFrameLoopMakesNoAllocation) {
  // Counting starts once the show is under way and covers thousands of frames, with launches,
  // bursts and finished fireworks among them, at different frame rates.
  constexpr std::uint64_t FirstCountedFrame = 50;
  struct Case {
    std::uint32_t framesPerSecond;
    std::uint64_t countedFrames;
  };
  for (const Case& c : {Case{60, 3'000}, Case{144, 1'000}, Case{24, 1'000}}) {
    SCOPED_TRACE(c.framesPerSecond);
    const std::uint64_t lastCountedFrame = FirstCountedFrame + c.countedFrames;
    CountingObserver observer(FirstCountedFrame, lastCountedFrame);
    RunHeadlessShow({.framesPerSecond = c.framesPerSecond, .frames = lastCountedFrame + 1}, &observer);
    EXPECT_EQ(observer.counted.allocations, 0u);
    EXPECT_EQ(observer.counted.releases, 0u);
    EXPECT_GT(observer.launches, 10u) << "the counted frames launched rockets";
  }
}

} // namespace
