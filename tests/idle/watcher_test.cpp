// Tests of the idle watcher: what it does with each change and each end of the show, its loop on a scripted source, the show's real process.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "idle/idle.h"

namespace {

using idle::Change;

constexpr int Exited(int code) { return code << 8; }
constexpr int Killed(int signalNumber) { return signalNumber; }

// A show that notes what is done to it; it ends only when a test says so, with the status given.
class FakeShow final : public idle::Show {
public:
  bool Start(std::FILE*) override {
    log.push_back("start");
    running = true;
    if (raiseOnStart != 0) raise(raiseOnStart);
    return true;
  }
  bool Running() const override { return running; }
  void End() override {
    log.push_back("end");
    endStatus = endStatus.value_or(Killed(SIGTERM));
  }
  std::optional<int> Collect(Wait wait) override {
    if (!running || !(endStatus || wait == Wait::UntilEnded)) return std::nullopt;
    running = false;
    return std::exchange(endStatus, std::nullopt).value_or(Killed(SIGTERM));
  }

  std::vector<std::string> log;
  bool running = false;
  std::optional<int> endStatus; // how the process ended, once it has
  int raiseOnStart = 0;
};

// What the watcher wrote, read back from a temporary file.
struct Report {
  std::FILE* file = std::tmpfile();
  ~Report() { std::fclose(file); }
  std::string Text() const {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text.push_back(static_cast<char>(c));
    return text;
  }
};

// A step of a story: a change of the session, or the show's process ending with a status.
struct Step {
  std::optional<Change> change;
  int endsWith = 0;
};
Step Idle() { return {Change::UserIdle}; }
Step Active() { return {Change::UserActive}; }
Step ShowEnds(int status) { return {std::nullopt, status}; }

struct Story {
  const char* name;
  std::vector<Step> steps;
  std::vector<std::string> log;
  std::string report;
};

TEST(Watcher, FollowsTheSessionOneShowAtATime) {
  const Story stories[] = {
      {"idle, then back", {Idle(), Active(), ShowEnds(Killed(SIGTERM))}, {"start", "end"}, ""},
      {"input while no show runs ends nothing", {Active(), Active()}, {}, ""},
      {"a second idle period starts no second show", {Idle(), Idle()}, {"start"}, ""},
      {"a click ends it; the next waits for the next idle period",
       {Idle(), ShowEnds(Exited(0)), Active(), Idle()},
       {"start", "start"},
       ""},
      {"one SIGTERM however often the user comes back", {Idle(), Active(), Active()}, {"start", "end"}, ""},
      {"a show that could not start is reported once and tried at the next idle period",
       {Idle(), ShowEnds(Exited(255)), Active(), Idle()},
       {"start", "start"},
       "pyrovane-idle: the show ended with status 255\n"},
      {"a show that catches SIGTERM ends as one that does not",
       {Idle(), Active(), ShowEnds(Exited(128 + SIGTERM)), Idle()},
       {"start", "end", "start"},
       ""},
      {"a show killed by another",
       {Idle(), ShowEnds(Killed(SIGKILL))},
       {"start"},
       "pyrovane-idle: the show ended by signal 9\n"},
  };
  for (const Story& story : stories) {
    FakeShow show;
    Report report;
    idle::Watcher watcher(show, report.file);
    for (const Step& step : story.steps) {
      if (step.change) {
        watcher.OnChange(*step.change);
      } else {
        show.endStatus = step.endsWith;
        watcher.OnChildEnded();
      }
    }
    EXPECT_EQ(show.log, story.log) << story.name;
    EXPECT_EQ(report.Text(), story.report) << story.name;
  }
}

TEST(Watcher, EndsItsShowAndSaysWhichConnectionWasLost) {
  FakeShow show;
  Report report;
  idle::ScriptedSource source({{}, {Change::UserIdle}, {}});
  int never[2];
  ASSERT_EQ(pipe(never), 0);
  EXPECT_EQ(idle::Watch(source, show, never[0], report.file), -1);
  EXPECT_EQ(show.log, (std::vector<std::string>{"start", "end"}));
  EXPECT_FALSE(show.Running());
  EXPECT_EQ(report.Text(), source.LostLine());
  close(never[0]);
  close(never[1]);
}

TEST(Watcher, SigtermEndsItAndItsShow) {
  const int signals = idle::OpenSignalDescriptor();
  ASSERT_GE(signals, 0);
  FakeShow show;
  show.raiseOnStart = SIGTERM;
  Report report;
  idle::ScriptedSource source({{Change::UserIdle}});
  EXPECT_EQ(idle::Watch(source, show, signals, report.file), 0);
  EXPECT_EQ(show.log, (std::vector<std::string>{"start", "end"}));
  EXPECT_EQ(report.Text(), "");
  close(signals);
}

TEST(ShowProcess, RunsItsCommandAndEndsItByItsPid) {
  Report report;
  idle::ShowProcess missing({"/nonexistent/pyrovane", "/s"});
  EXPECT_FALSE(missing.Start(report.file));
  EXPECT_FALSE(missing.Running());
  EXPECT_EQ(report.Text(), "pyrovane-idle: cannot run /nonexistent/pyrovane: No such file or directory\n");

  idle::ShowProcess failing({"/bin/sh", "-c", "exit 255"});
  ASSERT_TRUE(failing.Start(report.file));
  const std::optional<int> failed = failing.Collect(idle::Show::Wait::UntilEnded);
  ASSERT_TRUE(failed.has_value());
  EXPECT_EQ(idle::Classify(*failed, false), idle::ShowEnd::Failed);
  EXPECT_FALSE(failing.Collect(idle::Show::Wait::IfEnded).has_value()) << "collected twice";

  idle::ShowProcess running({"sleep", "60"});
  ASSERT_TRUE(running.Start(report.file));
  EXPECT_FALSE(running.Collect(idle::Show::Wait::IfEnded).has_value()) << "it runs";
  running.End();
  const std::optional<int> ended = running.Collect(idle::Show::Wait::UntilEnded);
  ASSERT_TRUE(ended.has_value());
  EXPECT_EQ(idle::Classify(*ended, true), idle::ShowEnd::ByOurSignal);
  EXPECT_EQ(idle::Classify(*ended, false), idle::ShowEnd::Failed) << "a SIGTERM from someone else";
  EXPECT_EQ(idle::Classify(Exited(0), false), idle::ShowEnd::ByItself);
}

} // namespace
