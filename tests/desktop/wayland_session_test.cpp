// Tests of the show on Wayland against a compositor in the test's process: what each output shows is the frame, in each role and without each of the globals the show can do without.
#include "desktop/desktop.h"
#include "fake_compositor.h"
#include "frame_scaler.h"
#include "support/case_name.h"
#include "support/frames.h"
#include "support/process.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>

namespace {

constexpr int FrameWidth = glide::ScreenWidth;
constexpr int FrameHeight = glide::ScreenHeight;
constexpr int FramesShown = 150;
constexpr int OutputAddedAt = 50;
constexpr int OutputRemovedAt = 100;
// The compositor may still show a picture a few frames old while the show's buffers come back.
constexpr int FramesKept = 16;

// A frame's number as a colour, never black, whose channels are far enough apart that scaling's
// rounding cannot make one number look like another.
constexpr int MarkerStep = 4;
std::uint32_t Marker(int number) {
  return 0x800000U | static_cast<std::uint32_t>(number % 64 * MarkerStep) << 8 |
         static_cast<std::uint32_t>(number / 64 % 64 * MarkerStep);
}
int NumberIn(std::uint32_t marker) {
  if ((marker & 0x800000U) == 0) return -1;
  const auto channel = [&](int shift) {
    return (static_cast<int>(marker >> shift & 0xFF) + MarkerStep / 2) / MarkerStep;
  };
  return channel(8) + 64 * channel(0);
}

// Frame `number`: black, its number in the top left tile (never black), a white block that stays,
// and blocks that move and change colour, so that each frame changes a few tiles.
std::vector<std::uint32_t> MakeFrame(int number) {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(FrameWidth) * FrameHeight, 0);
  const auto fill = [&](int x, int y, int width, int height, std::uint32_t colour) {
    for (int row = y; row < y + height; ++row) {
      std::fill_n(pixels.begin() + row * FrameWidth + x, width, colour);
    }
  };
  fill(0, 0, glide::DamageTileWidth, glide::DamageTileHeight, Marker(number));
  fill(300, 200, 40, 40, 0xFFFFFF);
  for (int block = 0; block < 3; ++block) {
    const int x = 20 + (number * (5 + block * 3) + block * 150) % 560;
    const int y = 20 + (number * (3 + block) + block * 100) % 400;
    fill(x, y, 30 + block * 7, 20 + block * 5, 0x203040U * static_cast<std::uint32_t>(block + 1) + number * 0x010305U);
  }
  return pixels;
}

// The desktop board on the test's compositor, showing numbered frames.
class Show {
public:
  explicit Show(const fake::Compositor& compositor) {
    for (const char* variable : {"WAYLAND_DISPLAY", "DISPLAY", "XSCREENSAVER_WINDOW"}) unsetenv(variable);
    setenv("WAYLAND_SOCKET", std::to_string(dup(compositor.ClientSocket())).c_str(), 1);
    board_ = desktop::MakeDesktopBoard();
  }
  ~Show() { board_->Close(); }
  Show(const Show&) = delete;
  Show& operator=(const Show&) = delete;

  bool Open() { return board_->QueryHardware() && board_->Open(); }
  void Present(int number) {
    frames_[number] = MakeFrame(number);
    const glide::FrameDamage damage = frames_.contains(number - 1)
                                          ? support::DamageBetween(frames_[number - 1], frames_[number])
                                          : glide::FrameDamage{};
    glide::FrameView view{frames_[number].data(), FrameWidth, FrameHeight, FrameWidth};
    view.damage = frames_.contains(number - 1) ? &damage : nullptr;
    board_->Present(view);
    frames_.erase(number - FramesKept);
    last_ = number;
  }
  int Last() const { return last_; }
  const std::vector<std::uint32_t>* Frame(int number) const {
    const auto found = frames_.find(number);
    return found != frames_.end() ? &found->second : nullptr;
  }
  std::int16_t Button() { return board_->LeftButtonState(); }

private:
  std::unique_ptr<desktop::DesktopBoard> board_;
  std::map<int, std::vector<std::uint32_t>> frames_;
  int last_ = 0;
};

// What an output should show of frame `number`: the pictures' surfaces, each as the compositor
// holds it. Empty when it does, else what differs.
std::string Mismatch(const fake::OutputView& output, const Show& show, int& number) {
  const desktop::ScreenRect picture = desktop::PictureRect(output.size.width, output.size.height);
  if (output.picture) {
    // The frame itself above the bars, which are one black pixel stretched over the output.
    const fake::SurfaceView& frame = *output.picture;
    number = NumberIn(frame.pixels.at(0));
    const auto* expected = show.Frame(number);
    if (expected == nullptr) return "a picture of no recent frame";
    if (frame.pixels != *expected) return "the picture is not frame " + std::to_string(number);
    if (frame.x != picture.x || frame.y != picture.y || frame.destinationWidth != picture.width ||
        frame.destinationHeight != picture.height) {
      return "the picture is not at the output's 4:3 rectangle";
    }
    const bool blackBars = std::all_of(output.surface.pixels.begin(), output.surface.pixels.end(),
                                       [](std::uint32_t pixel) { return pixel == 0; });
    return blackBars && output.surface.destinationWidth == output.size.width &&
                   output.surface.destinationHeight == output.size.height
               ? ""
               : "the bars are not black over the whole output";
  }
  const fake::SurfaceView& surface = output.surface;
  const int width = surface.bufferWidth;
  std::vector<std::uint32_t> expected(surface.pixels.size(), 0);
  if (surface.viewport) {
    // The frame pixel for pixel with the bars around it, centred, scaled by the compositor to a
    // picture of 4:3 on the output.
    const auto first =
        std::find_if(surface.pixels.begin(), surface.pixels.end(), [](auto pixel) { return pixel != 0; });
    if (first == surface.pixels.end()) return "nothing shown";
    number = NumberIn(*first);
    const int left = static_cast<int>(first - surface.pixels.begin()) % width;
    const int top = static_cast<int>(first - surface.pixels.begin()) / width;
    const auto* frame = show.Frame(number);
    if (frame == nullptr) return "a picture of no recent frame";
    for (int row = 0; row < FrameHeight; ++row) {
      std::copy_n(frame->begin() + row * FrameWidth, FrameWidth, expected.begin() + (top + row) * width + left);
    }
    const double shownWidth = 1.0 * FrameWidth * surface.destinationWidth / width;
    const double shownHeight = 1.0 * FrameHeight * surface.destinationHeight / surface.bufferHeight;
    if (std::abs(width - FrameWidth - 2 * left) > 1 || std::abs(surface.bufferHeight - FrameHeight - 2 * top) > 1 ||
        std::abs(shownWidth * 3 - shownHeight * 4) > shownHeight * 0.01) {
      return "the frame is not centred at 4:3";
    }
  } else {
    // The show scales the frame itself into a buffer of the output's size.
    desktop::FrameScaler scaler(width, surface.bufferHeight);
    const desktop::ScreenRect inBuffer = scaler.Picture();
    // The marker's middle is the same colour however the show scales.
    const int markerX = inBuffer.x + glide::DamageTileWidth / 2 * inBuffer.width / FrameWidth;
    const int markerY = inBuffer.y + glide::DamageTileHeight / 2 * inBuffer.height / FrameHeight;
    number = NumberIn(surface.pixels.at(static_cast<std::size_t>(markerY) * width + markerX));
    const auto* frame = show.Frame(number);
    if (frame == nullptr) return "a picture of no recent frame";
    scaler.Update({frame->data(), FrameWidth, FrameHeight, FrameWidth},
                  expected.data() + inBuffer.y * width + inBuffer.x, width);
  }
  return surface.pixels == expected ? "" : "the buffer is not frame " + std::to_string(number) + " with its bars";
}

struct RoleCase {
  const char* name;
  fake::Offers offers;
  const char* role;
};

class WaylandShow : public ::testing::TestWithParam<RoleCase> {};

TEST_P(WaylandShow, EachOutputShowsTheFrameAsOutputsComeAndGo) {
  const RoleCase& c = GetParam();
  fake::Compositor compositor(c.offers, {{1280, 720}, {800, 800}});
  Show show(compositor);
  ASSERT_TRUE(show.Open());
  for (int number = 1; number <= FramesShown; ++number) {
    if (number == OutputAddedAt) compositor.AddOutput({1024, 768});
    if (number == OutputRemovedAt) compositor.RemoveOutput(0);
    show.Present(number);
    EXPECT_EQ(show.Button(), 0);
    for (const fake::OutputView& output : compositor.Outputs()) {
      if (output.role.empty() || (output.picture ? output.picture->commits : output.surface.commits) == 0) continue;
      int shown = 0;
      ASSERT_EQ(Mismatch(output, show, shown), "")
          << "output " << output.size.width << "x" << output.size.height << " after frame " << number;
    }
  }
  // Every output comes to show the last frame; the two that stayed took a picture a frame, whole
  // only the first time.
  ASSERT_TRUE(support::Eventually([&] {
    const std::vector<fake::OutputView> outputs = compositor.Outputs();
    return outputs.size() == 2 && std::all_of(outputs.begin(), outputs.end(), [&](const fake::OutputView& output) {
             int shown = 0;
             return output.role == c.role && Mismatch(output, show, shown).empty() && shown == show.Last();
           });
  }));
  const fake::OutputView stayed = compositor.Outputs().front();
  const fake::SurfaceView& pictures = stayed.picture ? *stayed.picture : stayed.surface;
  EXPECT_GE(pictures.commits, FramesShown - FramesKept);
  EXPECT_LE(pictures.wholeBufferDamage, 1);
  EXPECT_EQ(compositor.Violations(), std::vector<std::string>{});
}

// The roles with a seat: input comes through it.
class WaylandInput : public ::testing::TestWithParam<RoleCase> {};

TEST_P(WaylandInput, OnlyTheLeftButtonEndsItAndThePointerStaysHidden) {
  const RoleCase& c = GetParam();
  fake::Compositor compositor(c.offers, {{1280, 720}});
  Show show(compositor);
  ASSERT_TRUE(show.Open());
  int number = 0;
  const auto presentUntil = [&](const std::function<bool()>& condition) {
    return support::Eventually([&] {
      show.Present(++number);
      return condition();
    });
  };
  const std::int16_t start = show.Button();
  compositor.AddOutput({800, 600});
  ASSERT_TRUE(presentUntil([&] {
    const fake::OutputView added = compositor.Outputs().back();
    return (added.picture ? added.picture->commits : added.surface.commits) > 0;
  })) << "the added output shows nothing";
  const int hiddenBefore = compositor.HiddenCursorRequests();
  compositor.PointerOver(1);
  EXPECT_TRUE(presentUntil([&] { return compositor.HiddenCursorRequests() >= hiddenBefore + 2; }))
      << "the pointer is not hidden on entering the new output's surface and moving over it";
  for (const bool pressed : {true, false}) compositor.Button(BTN_RIGHT, pressed);
  compositor.Wheel();
  for (int frame = 0; frame < 10; ++frame) show.Present(++number);
  EXPECT_EQ(show.Button(), start) << "the right button or the wheel changed the button's value";
  compositor.Button(BTN_LEFT, true);
  EXPECT_TRUE(presentUntil([&] { return show.Button() == static_cast<std::int16_t>(0x8001); }));

  if (std::string(c.role) == "toplevel") {
    const int requests = compositor.FullScreenRequests();
    compositor.TakeFullScreenAway(0);
    EXPECT_TRUE(presentUntil([&] { return compositor.FullScreenRequests() > requests; }))
        << "the toplevel did not ask for full screen again";
  }
  EXPECT_EQ(compositor.Violations(), std::vector<std::string>{});
}

const RoleCase WithSeat[] = {
    {"OverlayLayerAboveItsBars", {}, "layer"},
    {"ToplevelAboveItsBars", {.layerShell = false}, "toplevel"},
};
// What a lock screen's connection offers: no shell for toplevels, no subsurfaces, no seat.
const RoleCase WithoutSeat[] = {
    {"OverlayLayerWithItsBars", {.toplevels = false, .subcompositor = false, .seat = false}, "layer"},
    {"OverlayLayerScaledByTheShow",
     {.toplevels = false, .subcompositor = false, .viewporter = false, .seat = false},
     "layer"},
};
INSTANTIATE_TEST_SUITE_P(WithSeat, WaylandShow, ::testing::ValuesIn(WithSeat), support::CaseName<RoleCase>);
INSTANTIATE_TEST_SUITE_P(WithoutSeat, WaylandShow, ::testing::ValuesIn(WithoutSeat), support::CaseName<RoleCase>);
INSTANTIATE_TEST_SUITE_P(Roles, WaylandInput, ::testing::ValuesIn(WithSeat), support::CaseName<RoleCase>);

} // namespace
