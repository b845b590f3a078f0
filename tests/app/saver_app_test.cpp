// Tests of the application object: the dispatch on the first argument and the shutdown count.
#include "saver_app.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "glide/inspection.h"

namespace {

using namespace app;

// A show without a display: the headless board, a virtual clock and a button that changes
// after five frames of each show.
show::ShowPlatform& HeadlessShowPlatform() {
  static glide::HeadlessBoard board;
  static platform::VirtualClock clock = platform::VirtualClock::ForFrameRate(60);
  static platform::ScriptedButton button(5);
  button = platform::ScriptedButton(5);
  board.onPresent = [](const glide::FrameView&) { clock.AdvanceFrame(); };
  static show::ShowPlatform headless{board, clock, button};
  return headless;
}

struct LibraryCalls {
  int inits = 0;
  int shutdowns = 0;
  int swaps = 0;
  std::string Described() const {
    return "inits " + std::to_string(inits) + ", shutdowns " + std::to_string(shutdowns) + ", swaps " +
           std::to_string(swaps);
  }
};

void CountCalls(glide::Operation operation, void* context) {
  auto* calls = static_cast<LibraryCalls*>(context);
  if (operation == glide::Operation::GlideInit) ++calls->inits;
  if (operation == glide::Operation::GlideShutdown) ++calls->shutdowns;
  if (operation == glide::Operation::BufferSwap) ++calls->swaps;
}

enum class Mode { Settings, Show, Nothing };

// Runs the application as a process would, in a child that tells on standard error which calls it
// made. Settings mode runs without a display, where the dialog counts as closed at once.
TEST(SaverAppDeathTest, DispatchesOnTheFirstTwoCharactersAndShutsDownOnEveryPath) {
  struct Case {
    std::vector<const char*> arguments;
    Mode mode;
  };
  const Case cases[] = {
      {{"pyrovane"}, Mode::Settings},
      {{}, Mode::Settings},
      {{"pyrovane", "/c"}, Mode::Settings},
      {{"pyrovane", "/c:1234"}, Mode::Settings},
      {{"pyrovane", "/c", "1234"}, Mode::Settings},
      {{"pyrovane", "/C"}, Mode::Nothing},
      {{"pyrovane", "/s"}, Mode::Show},
      {{"pyrovane", "/S"}, Mode::Show},
      {{"pyrovane", "/scr"}, Mode::Show},
      {{"pyrovane", "/Sx"}, Mode::Show},
      {{"pyrovane", "/s", "/c"}, Mode::Show},
      {{"pyrovane", "/p", "1234"}, Mode::Nothing},
      {{"pyrovane", "-s"}, Mode::Nothing},
      {{"pyrovane", "s"}, Mode::Nothing},
      {{"pyrovane", ""}, Mode::Nothing},
      {{"pyrovane", "/"}, Mode::Nothing},
  };
  for (const Case& c : cases) {
    const std::string name = c.arguments.size() > 1 ? c.arguments[1] : "(no argument)";
    // Show mode: init once, shut down at the end of the show and again at exit; seven swaps
    // (two to settle the display, five frames). Elsewhere: one harmless shutdown, nothing else.
    const LibraryCalls expected = c.mode == Mode::Show ? LibraryCalls{1, 2, 7} : LibraryCalls{0, 1, 0};
    EXPECT_EXIT(
        {
          unsetenv("DISPLAY");
          unsetenv("WAYLAND_DISPLAY");
          unsetenv("QT_QPA_PLATFORM");
          LibraryCalls calls;
          glide::SetOperationObserver(CountCalls, &calls);
          std::vector<char*> argv;
          for (const char* argument : c.arguments) argv.push_back(const_cast<char*>(argument));
          argv.push_back(nullptr);
          CSaverApp app(HeadlessShowPlatform);
          const int result = AfxWinMain(static_cast<int>(c.arguments.size()), argv.data());
          std::fprintf(stderr, "%s\n", calls.Described().c_str());
          std::exit(result);
        },
        testing::ExitedWithCode(0), "(^|\n)" + expected.Described() + "\n$")
        << name;
  }
}

TEST(SaverApp, InitInstanceReportsWhetherAShowRan) {
  struct Case {
    std::vector<const char*> arguments;
    BOOL expected;
  };
  for (const Case& c : {Case{{"pyrovane", "/x"}, FALSE}, Case{{"pyrovane", "/S"}, TRUE}}) {
    CSaverApp app(HeadlessShowPlatform);
    EXPECT_EQ(AfxGetApp(), &app);
    std::vector<char*> argv;
    for (const char* argument : c.arguments) argv.push_back(const_cast<char*>(argument));
    app.m_argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);
    app.m_argv = argv.data();
    EXPECT_EQ(app.InitInstance(), c.expected) << c.arguments[1];
    EXPECT_EQ(app.ExitInstance(), 0);
  }
  EXPECT_EQ(AfxGetApp(), nullptr);
}

} // namespace
