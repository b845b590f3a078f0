// Tests of the slot pool's lists: reset, taking, releasing at the head and in the middle.
#include "sim_test_support.h"

#include <algorithm>

namespace {

using namespace sim;

using simtest::SimTest;

std::vector<int> ActiveList() {
  std::vector<int> list;
  for (int i = slotPool.activeHead; i >= 0 && list.size() <= SlotCount; i = slotPool.next[i]) list.push_back(i);
  return list;
}

std::vector<int> FreeList() {
  std::vector<int> list;
  for (int i = slotPool.freeHead; i >= 0 && list.size() <= SlotCount; i = slotPool.next[i]) list.push_back(i);
  return list;
}

// Every index lies on exactly one of the two lists, once.
void ExpectEverySlotOnOneList() {
  std::vector<int> all = ActiveList();
  const std::vector<int> free = FreeList();
  all.insert(all.end(), free.begin(), free.end());
  std::sort(all.begin(), all.end());
  std::vector<int> expected(SlotCount);
  for (int i = 0; i < SlotCount; ++i) expected[i] = i;
  EXPECT_EQ(all, expected);
}

using PoolTest = SimTest;

TEST_F(PoolTest, InitPoolPutsSlotZeroAloneOnTheActiveList) {
  InitPool();
  EXPECT_EQ(slotPool.activeHead, 0);
  EXPECT_EQ(slotPool.next[0], -1);
  EXPECT_EQ(slotPool.freeHead, 1);
  EXPECT_EQ(slotPool.next[23], 24);
  EXPECT_EQ(slotPool.next[24], -1);
  EXPECT_EQ(ActiveList(), std::vector<int>{0});
  ExpectEverySlotOnOneList();
}

TEST_F(PoolTest, InitPoolLeavesSlotContentsAlone) {
  slotPool.slots[3].size = 7.5;
  InitPool();
  EXPECT_EQ(slotPool.slots[3].size, 7.5);
}

TEST_F(PoolTest, TakesReturnEveryFreeSlotInOrderThenMinusOne) {
  InitPool();
  for (int expected = 1; expected < SlotCount; ++expected) {
    EXPECT_EQ(TakeSlot(), expected);
  }
  const std::vector<int> active = ActiveList();
  EXPECT_EQ(TakeSlot(), -1);
  EXPECT_EQ(ActiveList(), active);
  EXPECT_EQ(slotPool.freeHead, -1);
  std::vector<int> newestFirst;
  for (int i = SlotCount - 1; i >= 0; --i) newestFirst.push_back(i);
  EXPECT_EQ(active, newestFirst);
}

TEST_F(PoolTest, ReleaseRelinksTheActiveListAndReturnsTheSuccessor) {
  struct Case {
    const char* name;
    int slotsTaken; // after InitPool: active list runs slotsTaken..0
    int released;
    int previous;
    int expectedSuccessor;
    std::vector<int> expectedActive;
  };
  const Case cases[] = {
      {"head", 3, 3, -1, 2, {2, 1, 0}},
      {"middle", 3, 2, 3, 1, {3, 1, 0}},
      {"tail", 3, 0, 1, -1, {3, 2, 1}},
      {"only active slot", 0, 0, -1, -1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InitPool();
    for (int i = 0; i < c.slotsTaken; ++i) TakeSlot();
    EXPECT_EQ(ReleaseSlot(c.released, c.previous), c.expectedSuccessor);
    EXPECT_EQ(ActiveList(), c.expectedActive);
    EXPECT_EQ(slotPool.activeHead, c.expectedActive.empty() ? -1 : c.expectedActive.front());
    EXPECT_EQ(FreeList().front(), c.released);
    ExpectEverySlotOnOneList();
  }
}

TEST_F(PoolTest, ReleaseIsLastInFirstOut) {
  InitPool();
  for (int i = 0; i < 5; ++i) TakeSlot(); // active: 5 4 3 2 1 0
  // One walk from the head releasing 5 (the head), 3 and 1, as the show's walk does.
  int previous = -1;
  for (int current = slotPool.activeHead; current >= 0;) {
    if (current % 2 == 1) {
      current = ReleaseSlot(current, previous);
    } else {
      previous = current;
      current = slotPool.next[current];
    }
  }
  EXPECT_EQ(ActiveList(), (std::vector<int>{4, 2, 0}));
  // The slot released last, nearest the tail, is taken first.
  EXPECT_EQ(TakeSlot(), 1);
  EXPECT_EQ(TakeSlot(), 3);
  EXPECT_EQ(TakeSlot(), 5);
  EXPECT_EQ(TakeSlot(), 6);
  ExpectEverySlotOnOneList();
}

} // namespace
