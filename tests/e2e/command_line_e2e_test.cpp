// Whole-process test of pyrovane's command line: hundreds of generated first arguments, each
// outcome checked against the dispatch rule, without a display and without a crash.
//
// Without a display the three outcomes differ in a way a test can see. The show prints
// "main: grSstQueryHardware failed!" and exits with 255; an argument that is not recognised
// ends at once, silently, with 0; the settings dialog, on the offscreen platform, loads the
// toolkit's platform plugin and then waits for a user who never comes, until SIGTERM ends it.
#include "processes.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using support::ChildProcess;

enum class Outcome { Settings, Show, NothingShown };

const char* NameOf(Outcome outcome) {
  switch (outcome) {
  case Outcome::Settings: return "the settings dialog";
  case Outcome::Show: return "the show";
  case Outcome::NothingShown: return "an immediate exit";
  }
  return "?";
}

// The dispatch rule: only the first two characters of the first argument count, compared
// byte for byte; no argument at all opens the settings.
Outcome ExpectedOutcome(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return Outcome::Settings;
  const std::string start = arguments[0].substr(0, 2);
  if (start == "/c") return Outcome::Settings;
  if (start == "/s" || start == "/S") return Outcome::Show;
  return Outcome::NothingShown;
}

// A readable name for a case: printable ASCII as it is, every other byte in hex, long runs cut.
std::string Describe(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return "(no argument)";
  std::string description;
  for (const std::string& argument : arguments) {
    description += description.empty() ? "\"" : " \"";
    const std::size_t shown = std::min<std::size_t>(argument.size(), 24);
    for (std::size_t i = 0; i < shown; ++i) {
      const auto byte = static_cast<unsigned char>(argument[i]);
      if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
        description += static_cast<char>(byte);
      } else {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
        description += escaped;
      }
    }
    if (shown < argument.size()) description += "... (" + std::to_string(argument.size()) + " bytes)";
    description += "\"";
  }
  return description;
}

// The longest single argument Linux passes to a program: 32 pages, less the terminating zero.
constexpr std::size_t LongestArgument = 32 * 4096 - 1;

std::vector<std::vector<std::string>> GeneratedCommandLines() {
  // No argument, and a second argument after a switch or after something else.
  std::vector<std::vector<std::string>> lines = {{},           {"/p", "1234"}, {"/s", "/c"},
                                                 {"/c", "/s"}, {"/x", "/s"},   {"", "/s"}};
  // Single characters, the documented switches and their neighbours, and quotes the launcher did not strip.
  for (const char* argument :
       {"",    "/",       "s",       "c",       "S",    "C",      "/s",   "/S",  "/c",   "/C",  "/p",
        "/a",  "/c:1234", "/c 1234", "/C:1234", "-s",   "-c",     "--s",  "//s", "\\s",  " /s", "\t/c",
        "/ s", "/sc",     "/cs",     "\"/s\"",  "'/s'", "\"/c\"", "/s\"", "/c'", "/\"s", "/'c"}) {
    lines.push_back({argument});
  }
  // Non-ASCII: look-alikes of the switches, UTF-8 after them, and bytes that are no UTF-8.
  for (const char* argument :
       {"/\xc5\x9b",     // s with an acute accent
        "/\xd1\x95",     // Cyrillic dze, which looks like s
        "/\xd1\x81",     // Cyrillic es, which looks like c
        "\xef\xbc\x8fs", // a full-width solidus
        "\xc0\xafs",     // an overlong encoding of the solidus
        "/s\xe2\x82\xac", "/c\xc3\xa9", "/S\xf0\x9f\x8e\x86", "\xff\xfe/s", "/\xc3", "/\xff", "\x80"}) {
    lines.push_back({argument});
  }
  // As long as an argument can be.
  for (const std::string& argument :
       {"/s" + std::string(LongestArgument - 2, 'x'), "/S" + std::string(LongestArgument - 2, '\xff'),
        "/c" + std::string(LongestArgument - 2, '"'), std::string(LongestArgument, '/'),
        std::string(LongestArgument, 's')}) {
    lines.push_back({argument});
  }
  lines.push_back({"/s", std::string(LongestArgument, 'c')});
  // Every byte an argument can hold after the first character of each switch, and after each
  // switch; the settings dialog costs the most to start, so its trailing bytes are sampled.
  for (int byte = 1; byte < 256; ++byte) {
    const std::string trailing(1, static_cast<char>(byte));
    lines.push_back({"/" + trailing});
    lines.push_back({"/s" + trailing});
    lines.push_back({"/S" + trailing + "\x01"});
    if (byte % 15 == 1) lines.push_back({"/c" + trailing});
  }
  return lines;
}

// How many processes run side by side.
constexpr std::size_t BatchSize = 8;

// The settings dialog has come up once the toolkit has loaded its platform plugin.
bool PlatformPluginLoaded(pid_t pid) {
  return support::ReadWhole("/proc/" + std::to_string(pid) + "/maps").find("platforms/libqoffscreen.so") !=
         std::string::npos;
}

bool WaitForPlatformPlugin(ChildProcess& program) {
  return support::Eventually([&] { return !program.Running() || PlatformPluginLoaded(program.Pid()); },
                             std::chrono::milliseconds(20)) &&
         PlatformPluginLoaded(program.Pid());
}

TEST(CommandLine, EveryGeneratedFirstArgumentGetsTheOutcomeTheRuleGives) {
  const std::vector<std::vector<std::string>> lines = GeneratedCommandLines();
  support::TemporaryDirectory directory;
  // No display at all; the settings dialog uses the offscreen platform, where it waits.
  const support::EnvironmentChanges environment = {{"QT_QPA_PLATFORM", "offscreen"},
                                                   {"XDG_RUNTIME_DIR", directory.Path()}};
  int outcomes[3] = {};
  for (std::size_t first = 0; first < lines.size(); first += BatchSize) {
    struct Running {
      std::size_t index;
      Outcome expected;
      std::unique_ptr<ChildProcess> process;
    };
    std::vector<Running> batch;
    for (std::size_t index = first; index < std::min(first + BatchSize, lines.size()); ++index) {
      std::vector<std::string> command = {e2e::Program};
      command.insert(command.end(), lines[index].begin(), lines[index].end());
      batch.push_back({index, ExpectedOutcome(lines[index]),
                       std::make_unique<ChildProcess>(command, environment,
                                                      directory.File("out-" + std::to_string(index) + ".txt"))});
    }
    // Those that end on their own are awaited first; a settings process must still be running
    // after they have ended, so it cannot have ended on its own as they did.
    for (Running& running : batch) {
      ChildProcess& process = *running.process;
      const std::string name = Describe(lines[running.index]) + ", expecting " + NameOf(running.expected);
      ++outcomes[static_cast<int>(running.expected)];
      ASSERT_TRUE(process.Started()) << name;
      if (running.expected == Outcome::Settings) {
        EXPECT_TRUE(WaitForPlatformPlugin(process)) << name << ": " << process.Output();
        continue;
      }
      const support::Ended expected = running.expected == Outcome::Show
                                          ? support::Ended{255, "main: grSstQueryHardware failed!\n"}
                                          : support::Ended{0, ""};
      EXPECT_EQ(process.WaitForEnd(), expected) << name;
    }
    for (Running& running : batch) {
      if (running.expected != Outcome::Settings) continue;
      ChildProcess& process = *running.process;
      const std::string name = Describe(lines[running.index]);
      EXPECT_TRUE(process.Running()) << name << ": the dialog did not wait for its user";
      const auto status = process.Signal(SIGTERM);
      ASSERT_TRUE(status.has_value()) << name << ": SIGTERM did not end the dialog";
      EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM) << name;
    }
  }
  // The generated lines reach every outcome many times over.
  for (const Outcome outcome : {Outcome::Settings, Outcome::Show, Outcome::NothingShown}) {
    EXPECT_GE(outcomes[static_cast<int>(outcome)], 20) << NameOf(outcome);
  }
}

} // namespace
