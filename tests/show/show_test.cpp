// Tests of the show loop: call order, frame times, launches, slot reuse, the full pool and the exit.
#include "show_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <string>
#include <vector>

#include "glide/inspection.h"
#include "render/render.h"
#include "support/frames.h"

namespace {

using namespace sim;
using namespace show;

using namespace showtest;

// Library operations by their own names, and the show's button queries and launch decisions, in
// the order they happen.
using Events = std::vector<std::string>;
const std::string ButtonQueryEvent = "button query";
const std::string LaunchDecisionEvent = "launch decision";
struct EventLog {
  Events events;
  static void OnOperation(glide::Operation operation, void* context) {
    static_cast<EventLog*>(context)->events.push_back(glide::OperationName(operation));
  }
};

Events Joined(std::initializer_list<Events> parts) {
  Events joined;
  for (const Events& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

// The tests that log library operations stop the logging however they end.
class LoggedShowTest : public ::testing::Test {
protected:
  void TearDown() override { glide::SetOperationObserver(nullptr, nullptr); }
  EventLog log_;
};

class LoggedButton final : public platform::ButtonQuery {
public:
  LoggedButton(EventLog& log, std::uint64_t frames) : log_(log), script_(frames) {}
  std::int16_t LeftButtonState() override {
    log_.events.push_back(ButtonQueryEvent);
    return script_.LeftButtonState();
  }

private:
  EventLog& log_;
  platform::ScriptedButton script_;
};

TEST_F(LoggedShowTest, EachFrameClearsStepsAndDrawsDecidesSwapsAndTestsTheButton) {
  glide::SetOperationObserver(EventLog::OnOperation, &log_);
  RecordingObserver observer;
  observer.afterFrame = [this](std::uint64_t) { log_.events.push_back(LaunchDecisionEvent); };
  LoggedButton button(log_, 3);
  platform::VirtualClock clock = SixtyHertzClock();
  RecordShowOn(clock, button, nullptr, observer);
  // The display opens; the show starts with the button, the base state, the texture and two
  // calibration swaps. Then come three frames of three rising rockets, each drawn as one head (two
  // triangles) in the sprite state, inside a saved and restored state; and the display closes.
  const Events openDisplay = {"grGlideInit", "grSstQueryHardware", "grSstSelect", "grSstWinOpen", "grClipWindow"};
  const Events baseState = {"guColorCombineFunction", "grColorCombine", "grAlphaCombine", "grAlphaBlendFunction"};
  const Events loadTexture = {"gu3dfGetInfo", "gu3dfLoad", "guTexAllocateMemory", "guTexDownloadMipMap"};
  const Events spriteState = {"grAlphaBlendFunction", "guColorCombineFunction", "guTexSource", "guAlphaSource",
                              "grTexCombineFunction"};
  const Events rocket =
      Joined({{"grGlideGetState"}, spriteState, {"grDrawTriangle", "grDrawTriangle", "grGlideSetState"}});
  const Events frame =
      Joined({{"grBufferClear"}, rocket, rocket, rocket, {LaunchDecisionEvent, "grBufferSwap", ButtonQueryEvent}});
  const Events start =
      Joined({openDisplay, {ButtonQueryEvent}, baseState, loadTexture, {"grBufferSwap", "grBufferSwap"}});
  EXPECT_EQ(log_.events, Joined({start, frame, frame, frame, {"grGlideShutdown"}}));
}

TEST(Show, FrameTimesFollowTheVirtualClockAndTheFirstFrameNeverLaunches) {
  struct Case {
    std::uint32_t framesPerSecond;
    double dt;
  };
  for (const Case& c : {Case{60, 1.0}, Case{144, 60.0 / 144.0}, Case{30, 2.0}, Case{1, 60.0}}) {
    SCOPED_TRACE(c.framesPerSecond);
    const std::vector<FrameRecord> frames = RecordShow({.framesPerSecond = c.framesPerSecond, .frames = 50});
    ASSERT_EQ(frames.size(), 50u);
    const FrameRecord& first = frames[0];
    EXPECT_EQ(first.dt, 0.0);
    EXPECT_EQ(first.sinceLaunch, 0.0);
    EXPECT_EQ(first.activeList, (std::vector<std::int32_t>{2, 1, 0}));
    // The opening launches made 6 + 9 + 6 draws, the first frame one decision.
    EXPECT_EQ(first.randCalls, 22u);
    for (std::size_t i = 1; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i].dt, c.dt) << i;
    }
  }
}

TEST(Show, LaunchesComeOnlyOnceMoreThanNineTimeUnitsHavePassed) {
  double sinceLaunch = 0.0;
  int launches = 0;
  for (const FrameRecord& frame : RecordShow({.frames = 2000})) {
    if (frame.sinceLaunch == 0.0 && frame.frame > 1) {
      // The decision draw is at most 1, so a launch needs more than nine time units.
      EXPECT_GT(sinceLaunch, 9.0) << frame.frame;
      ++launches;
    } else {
      EXPECT_EQ(frame.sinceLaunch, sinceLaunch + frame.dt) << frame.frame;
    }
    sinceLaunch = frame.sinceLaunch;
  }
  // About one launch every 12 to 20 time units over 2,000.
  EXPECT_GT(launches, 80);
  EXPECT_LT(launches, 200);
}

TEST_F(LoggedShowTest, FinishedSlotsAreDrawnInTheirLastFrameAndReleasedInTheNext) {
  glide::SetOperationObserver(EventLog::OnOperation, &log_);
  const std::vector<FrameRecord> frames = RecordShow({.frames = 1500});

  // Renderer calls per frame, from the log.
  std::vector<int> drawn;
  for (const std::string& event : log_.events) {
    if (event == "grBufferClear") drawn.push_back(0);
    if (event == "grGlideGetState" && !drawn.empty()) ++drawn.back();
  }
  ASSERT_EQ(drawn.size(), frames.size());

  int finishes = 0;
  for (std::size_t i = 1; i < frames.size(); ++i) {
    const FrameRecord& before = frames[i - 1];
    const FrameRecord& now = frames[i];
    // Frames after the first have time in them, so only a launch leaves nothing accumulated.
    const bool launched = now.sinceLaunch == 0.0;
    // Every slot on the list after the walk was drawn, the new launch aside.
    EXPECT_EQ(drawn[i], static_cast<int>(now.activeList.size()) - (launched ? 1 : 0)) << now.frame;
    for (std::size_t k = 0; k < before.states.size(); ++k) {
      if (before.states[k] != SlotState::Finished) continue;
      ++finishes;
      const std::int32_t slot = before.activeList[k];
      const auto found = std::find(now.activeList.begin(), now.activeList.end(), slot);
      // Gone, or taken again at once by this frame's launch (the last released is taken first).
      if (found != now.activeList.end()) {
        EXPECT_EQ(found, now.activeList.begin()) << now.frame;
        EXPECT_EQ(now.states.front(), SlotState::Rising);
      }
    }
  }
  EXPECT_GT(finishes, 50);
}

TEST(Show, AFullPoolStillMakesTheKindDrawAndChangesNothing) {
  // After the first frame every free slot gets a rocket, so 25 are alive; none bursts for the
  // next 50 frames, their rockets rising for at least 60 time units.
  RecordingObserver observer;
  observer.afterFrame = [](std::uint64_t frame) {
    if (frame != 1) return;
    for (std::int32_t i = TakeSlot(); i >= 0; i = TakeSlot()) LaunchBasicRocket(i, render::Renderers);
  };
  const std::vector<FrameRecord> frames = RecordShow({.frames = 50}, observer);
  int fullLaunches = 0;
  // From frame 3 on: frame 2's draws include the launches made after frame 1.
  for (std::size_t i = 2; i < frames.size(); ++i) {
    const FrameRecord& frame = frames[i];
    EXPECT_EQ(frame.activeList, frames[1].activeList);
    EXPECT_EQ(frame.activeList.size(), 25u);
    const std::uint64_t draws = frame.randCalls - frames[i - 1].randCalls;
    if (frame.sinceLaunch == 0.0) {
      EXPECT_EQ(draws, 2u) << frame.frame; // the decision and the kind
      ++fullLaunches;
    } else {
      EXPECT_EQ(draws, 1u) << frame.frame;
    }
  }
  EXPECT_GE(fullLaunches, 3);
}

TEST(Show, EachKindAnswersToAQuarterOfTheGeneratorsValues) {
  struct Case {
    int draw;
    BurstFn burst;
    TrailFn trail;
  };
  const Case cases[] = {
      {0, BasicBurst, nullptr},
      {8191, BasicBurst, nullptr},
      {8192, ShellBurst, nullptr},
      {16383, ShellBurst, nullptr},
      {16384, ShellBurst, SwingingTrail},
      {24575, ShellBurst, SwingingTrail},
      {24576, ClusterBurst, StraightTrail},
      {32767, ClusterBurst, StraightTrail},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.draw);
    // Nothing bursts in the first frames, so each frame draws once, for its launch decision:
    // frames 2 to 14 decide against a launch, frame 15 for one (1 × 13 time units > 9), then the kind.
    std::array<int, 15> draws{};
    draws[13] = platform::RandMax;
    draws[14] = c.draw;
    RecordingObserver observer;
    observer.afterFrame = [&draws](std::uint64_t frame) {
      if (frame == 1) platform::FeedRand(draws);
    };
    const std::vector<FrameRecord> frames = RecordShow({.frames = 15}, observer);
    ASSERT_EQ(frames.back().sinceLaunch, 0.0) << "frame 15 launched";
    const FireworkSlot& launched = slotPool.slots[frames.back().activeList.front()];
    EXPECT_EQ(launched.burstFn, c.burst);
    EXPECT_EQ(launched.trailFn, c.trail);
  }
}

// Reports the values of a script, one per query, repeating the last one.
class SequenceButton final : public platform::ButtonQuery {
public:
  explicit SequenceButton(std::vector<std::int16_t> values) : values_(std::move(values)) {}
  std::int16_t LeftButtonState() override {
    const std::int16_t value = values_[std::min(next_, values_.size() - 1)];
    ++next_;
    return value;
  }

private:
  std::vector<std::int16_t> values_;
  std::size_t next_ = 0;
};

TEST(Show, TheShowEndsAtTheFirstFrameWhoseButtonValueDiffers) {
  constexpr std::int16_t Down = static_cast<std::int16_t>(0x8000);
  constexpr std::int16_t DownAndPressed = static_cast<std::int16_t>(0x8001);
  struct Case {
    const char* name;
    std::vector<std::int16_t> values; // the start, then one value per frame
    std::size_t frames;
  };
  const Case cases[] = {
      {"a press reported alone", {0, 0, 0, 1}, 3},
      {"a press held", {0, Down}, 1},
      {"held at the start, then released", {Down, Down, Down, Down, 0}, 4},
      {"held at the start, then pressed again", {Down, Down, DownAndPressed}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SequenceButton button(c.values);
    std::uint64_t presented = 0;
    platform::VirtualClock clock = SixtyHertzClock();
    const auto frames = RecordShowOn(clock, button, [&](std::uint64_t, const glide::FrameView&) { ++presented; });
    EXPECT_EQ(frames.size(), c.frames);
    EXPECT_EQ(presented, c.frames) << "the last frame is presented before the button is read";
  }
}

TEST(Show, AStallAdvancesTheShowByOneSecondAtMost) {
  // The clock is 3,600,000 ticks a second (60 fps); frame 3's present takes this long instead.
  constexpr std::uint32_t FrameTicks = 60'000;
  struct Case {
    const char* name;
    std::uint32_t stallTicks;
    double expectedDt;
  };
  const Case cases[] = {
      {"half a second", 1'800'000, 30.0},
      {"exactly one second", 3'600'000, 60.0},
      {"ten minutes asleep", 2'160'000'000u, 60.0},
      {"all but one tick of the counter's range", 0xFFFFFFFFu, 60.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::VirtualClock clock = SixtyHertzClock();
    platform::ScriptedButton button(6);
    const auto frames = RecordShowOn(clock, button, [&](std::uint64_t frame, const glide::FrameView&) {
      if (frame == 3) clock.AdvanceBy(c.stallTicks - FrameTicks);
    });
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(frames[3].dt, c.expectedDt);
    EXPECT_EQ(frames[4].dt, 1.0);
  }
}

TEST(Show, EachPresentMarksEveryTileThatChangedAndLittleMore) {
  // A board that redraws only the marked tiles shows exactly the show, and saves work only if
  // the marks stay close to what changed.
  constexpr std::uint64_t Frames = 600;
  support::DamageAudit audit;
  double markedShare = 0;
  std::uint64_t presented = 0;
  const auto onFrame = [&](std::uint64_t, const glide::FrameView& frame) {
    ++presented;
    markedShare += static_cast<double>(audit.See(frame)) / (glide::DamageRows * glide::DamageColumns);
  };
  RunHeadlessShow({.frames = Frames, .onFrame = onFrame});
  ASSERT_EQ(presented, Frames);
  EXPECT_EQ(audit.unmarkedChanges, 0u);
  // About a third of the tiles change in a frame of a busy show; all of them would mean no marks at all.
  EXPECT_LT(markedShare / static_cast<double>(presented), 0.5);
}

} // namespace
