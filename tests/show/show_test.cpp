// Tests of the show loop: call order, frame times, launches, slot reuse, the full pool and the exit.
#include "show_test_support.h"

#include <algorithm>
#include <string>

namespace {

using namespace sim;

using showtest::FrameRecord;
using showtest::ShowTest;

// A log of library operations, button queries and launch decisions, in the order they happen.
struct EventLog {
  std::string events;
  static void OnOperation(glide::Operation operation, void* context) {
    auto* log = static_cast<EventLog*>(context);
    switch (operation) {
    case glide::Operation::BufferClear: log->events += 'C'; break;
    case glide::Operation::BufferSwap: log->events += 'W'; break;
    case glide::Operation::GlideGetState: log->events += '('; break;
    case glide::Operation::GlideSetState: log->events += ')'; break;
    case glide::Operation::DrawTriangle: log->events += 't'; break;
    case glide::Operation::Gu3dfGetInfo: log->events += 'I'; break;
    case glide::Operation::Gu3dfLoad: log->events += 'L'; break;
    default: log->events += '.'; break;
    }
  }
};

class LoggedButton final : public platform::ButtonQuery {
public:
  LoggedButton(EventLog& log, std::uint64_t frames) : log_(log), script_(frames) {}
  std::int16_t LeftButtonState() override {
    log_.events += 'B';
    return script_.LeftButtonState();
  }

private:
  EventLog& log_;
  platform::ScriptedButton script_;
};

TEST_F(ShowTest, EachFrameClearsStepsAndDrawsDecidesSwapsAndTestsTheButton) {
  EventLog log;
  glide::SetOperationObserver(EventLog::OnOperation, &log);
  observer_.afterFrame = [&log](std::uint64_t) { log.events += 'D'; };
  LoggedButton button(log, 3);
  RunRecordedShow(button);
  // The display opens (five calls); the show starts with the button, the base state (four
  // calls), the texture (info, load, allocate, download) and two calibration swaps. Then three frames of three rising rockets, each drawn as
  // one head (two triangles) inside a saved and restored state: five state calls apiece.
  const std::string rocket = "(.....tt)";
  const std::string frame = "C" + rocket + rocket + rocket + "DWB";
  EXPECT_EQ(log.events, ".....B....IL..WW" + frame + frame + frame + ".");
}

TEST_F(ShowTest, FrameTimesFollowTheVirtualClockAndTheFirstFrameNeverLaunches) {
  struct Case {
    std::uint32_t framesPerSecond;
    double dt;
  };
  for (const Case& c : {Case{60, 1.0}, Case{144, 60.0 / 144.0}, Case{30, 2.0}, Case{1, 60.0}}) {
    SCOPED_TRACE(c.framesPerSecond);
    SetUp();
    UseFrameRate(c.framesPerSecond);
    observer_.frames.clear();
    RunRecordedShow(50);
    ASSERT_EQ(observer_.frames.size(), 50u);
    const FrameRecord& first = observer_.frames[0];
    EXPECT_EQ(first.dt, 0.0);
    EXPECT_EQ(first.sinceLaunch, 0.0);
    EXPECT_EQ(first.activeList, (std::vector<std::int32_t>{2, 1, 0}));
    // The opening launches made 6 + 9 + 6 draws, the first frame one decision.
    EXPECT_EQ(first.randCalls, 22u);
    for (std::size_t i = 1; i < observer_.frames.size(); ++i) {
      EXPECT_EQ(observer_.frames[i].dt, c.dt) << i;
    }
    TearDown();
  }
}

TEST_F(ShowTest, LaunchesComeOnlyOnceMoreThanNineTimeUnitsHavePassed) {
  RunRecordedShow(2000);
  double sinceLaunch = 0.0;
  int launches = 0;
  for (const FrameRecord& frame : observer_.frames) {
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

TEST_F(ShowTest, FinishedSlotsAreDrawnInTheirLastFrameAndReleasedInTheNext) {
  EventLog log;
  glide::SetOperationObserver(EventLog::OnOperation, &log);
  observer_.afterFrame = [&log](std::uint64_t) { log.events += 'D'; };
  RunRecordedShow(1500);

  // Renderer calls per frame, from the log.
  std::vector<int> drawn;
  for (char event : log.events) {
    if (event == 'C') drawn.push_back(0);
    if (event == '(' && !drawn.empty()) ++drawn.back();
  }
  ASSERT_EQ(drawn.size(), observer_.frames.size());

  int finishes = 0;
  for (std::size_t i = 1; i < observer_.frames.size(); ++i) {
    const FrameRecord& before = observer_.frames[i - 1];
    const FrameRecord& now = observer_.frames[i];
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

TEST_F(ShowTest, AFullPoolStillMakesTheKindDrawAndChangesNothing) {
  // After the first frame every free slot gets a rocket, so 25 are alive; none bursts for the
  // next 50 frames, their rockets rising for at least 60 time units.
  observer_.afterFrame = [](std::uint64_t frame) {
    if (frame != 1) return;
    for (std::int32_t i = TakeSlot(); i >= 0; i = TakeSlot()) LaunchBasicRocket(i);
  };
  RunRecordedShow(50);
  int fullLaunches = 0;
  // From frame 3 on: frame 2's draws include the launches made after frame 1.
  for (std::size_t i = 2; i < observer_.frames.size(); ++i) {
    const FrameRecord& frame = observer_.frames[i];
    EXPECT_EQ(frame.activeList, observer_.frames[1].activeList);
    EXPECT_EQ(frame.activeList.size(), 25u);
    const std::uint64_t draws = frame.randCalls - observer_.frames[i - 1].randCalls;
    if (frame.sinceLaunch == 0.0) {
      EXPECT_EQ(draws, 2u) << frame.frame; // the decision and the kind
      ++fullLaunches;
    } else {
      EXPECT_EQ(draws, 1u) << frame.frame;
    }
  }
  EXPECT_GE(fullLaunches, 3);
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

TEST_F(ShowTest, TheShowEndsAtTheFirstFrameWhoseButtonValueDiffers) {
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
    SetUp();
    observer_.frames.clear();
    SequenceButton button(c.values);
    RunRecordedShow(button);
    EXPECT_EQ(observer_.frames.size(), c.frames);
    EXPECT_EQ(presents_, c.frames + 2) << "two swaps settle the display, then one per frame";
    TearDown();
  }
}

} // namespace

namespace {

TEST_F(ShowTest, AStallAdvancesTheShowByOneSecondAtMost) {
  // The clock is 3,600,000 ticks a second (60 fps); frame 3's swap takes this long instead.
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
    SetUp();
    observer_.frames.clear();
    board_.onPresent = [this, &c](const glide::FrameView&) {
      ++presents_;
      // Presents 1 and 2 settle the display; present 2 + n ends frame n.
      if (presents_ == 2 + 3) {
        clock_.AdvanceBy(c.stallTicks);
      } else {
        clock_.AdvanceFrame();
      }
    };
    RunRecordedShow(6);
    ASSERT_EQ(observer_.frames.size(), 6u);
    EXPECT_EQ(observer_.frames[3].dt, c.expectedDt);
    EXPECT_EQ(observer_.frames[4].dt, 1.0);
    TearDown();
  }
}

} // namespace

TEST_F(ShowTest, EachPresentMarksEveryTileThatChangedAndLittleMore) {
  // A board that redraws only the marked tiles shows exactly the show, and saves work only if
  // the marks stay close to what changed.
  constexpr std::uint64_t Frames = 600;
  std::vector<std::uint32_t> previous(glide::ScreenWidth * glide::ScreenHeight, 0);
  std::uint64_t unmarkedChanges = 0;
  double markedShare = 0;
  board_.onPresent = [&](const glide::FrameView& frame) {
    clock_.AdvanceFrame();
    ++presents_;
    ASSERT_NE(frame.damage, nullptr);
    int marked = 0;
    for (int row = 0; row < glide::ScreenHeight; ++row) {
      for (int column = 0; column < glide::ScreenWidth; ++column) {
        std::uint32_t& before = previous[static_cast<std::size_t>(row * glide::ScreenWidth + column)];
        const bool tileMarked = frame.damage->tiles[row / glide::DamageTileHeight][column / glide::DamageTileWidth];
        if (frame.Pixel(column, row) != before && !tileMarked) ++unmarkedChanges;
        before = frame.Pixel(column, row);
        marked += tileMarked && row % glide::DamageTileHeight == 0 && column % glide::DamageTileWidth == 0;
      }
    }
    // The display's opening marks its first frame whole.
    if (presents_ > 1) markedShare += static_cast<double>(marked) / (glide::DamageRows * glide::DamageColumns);
  };
  RunRecordedShow(Frames);
  EXPECT_EQ(unmarkedChanges, 0u);
  // About a third of the tiles change in a frame of a busy show; all of them would mean no marks at all.
  EXPECT_LT(markedShare / static_cast<double>(presents_ - 1), 0.5);
}
