// Tests of choosing the monitors of an X screen from what RandR and Xinerama report.
#include "monitors.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using desktop::ScreenRect;

struct Case {
  const char* name;
  std::vector<ScreenRect> randr;
  std::vector<ScreenRect> xinerama;
  int screenWidth;
  int screenHeight;
  std::vector<ScreenRect> expected;
};

class ChooseMonitorsTest : public testing::TestWithParam<Case> {};

TEST_P(ChooseMonitorsTest, TakesTheFullerReportClippedToTheScreen) {
  const Case& c = GetParam();
  EXPECT_EQ(desktop::ChooseMonitors(c.randr, c.xinerama, c.screenWidth, c.screenHeight), c.expected) << c.name;
}

constexpr ScreenRect Left{0, 0, 1920, 1080};
constexpr ScreenRect Right{1920, 0, 1920, 1080};

INSTANTIATE_TEST_SUITE_P(
    Reports, ChooseMonitorsTest,
    testing::Values(
        Case{"one monitor", {Left}, {}, 1920, 1080, {Left}},
        Case{"two monitors that both report alike", {Left, Right}, {Left, Right}, 3840, 1080, {Left, Right}},
        // A nested server's own Xinerama joins two screens that its RandR does not know of.
        Case{"Xinerama sees more heads than RandR", {Left}, {Left, Right}, 3840, 1080, {Left, Right}},
        Case{"RandR sees more monitors than Xinerama", {Left, Right}, {{0, 0, 3840, 1080}}, 3840, 1080, {Left, Right}},
        Case{"as many either way: RandR's", {{0, 0, 1000, 1000}}, {{0, 0, 800, 600}}, 1000, 1000, {{0, 0, 1000, 1000}}},
        Case{"mirrored monitors count once", {Left, Left}, {}, 1920, 1080, {Left}},
        Case{"a screen that shrank under its monitor", {{0, 0, 1024, 768}}, {}, 800, 600, {{0, 0, 800, 600}}},
        Case{"a monitor partly off the screen", {{-100, 50, 500, 500}}, {}, 640, 480, {{0, 50, 400, 430}}},
        Case{"a monitor wholly off the screen", {Left, {4000, 0, 100, 100}}, {}, 1920, 1080, {Left}},
        Case{"no report: the whole screen", {}, {}, 800, 600, {{0, 0, 800, 600}}},
        Case{"only empty monitors: the whole screen", {{10, 10, 0, 0}}, {}, 800, 600, {{0, 0, 800, 600}}}));

} // namespace
