// The command loop that the tests' pointer helpers share: "move DX DY", "press", "release", "click", one a line from a named pipe.
//
// A helper makes its pointer, then calls RunPointerCommands, which prints "ready" once the pipe is
// open and "done N" after the Nth command has reached the compositor, so that a test knows when
// input has been sent. It returns the helper's status: 0 when the pipe's writers are gone for
// good (never, as the helper itself keeps it open: a signal ends it), 1 when a command fails, as
// when the compositor has gone.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>

namespace helpers {

class Pointer {
public:
  virtual ~Pointer() = default;
  // Each returns whether the compositor took the input.
  virtual bool Move(double dx, double dy) = 0;
  // The left button.
  enum class Button { Press, Release };
  virtual bool Left(Button state) = 0;
};

inline bool RunPointerCommand(Pointer& pointer, const std::string& line) {
  std::istringstream words(line);
  std::string command;
  words >> command;
  if (command == "move") {
    double dx = 0;
    double dy = 0;
    return words >> dx >> dy && pointer.Move(dx, dy);
  }
  if (command == "press") return pointer.Left(Pointer::Button::Press);
  if (command == "release") return pointer.Left(Pointer::Button::Release);
  if (command == "click") return pointer.Left(Pointer::Button::Press) && pointer.Left(Pointer::Button::Release);
  return false;
}

inline int RunPointerCommands(const char* program, const char* fifo, Pointer& pointer) {
  // Opened for writing too, so that the pipe never reads as ended between two writers, and
  // opening it does not wait for one.
  const int descriptor = open(fifo, O_RDWR | O_CLOEXEC);
  std::FILE* commands = descriptor >= 0 ? fdopen(descriptor, "r") : nullptr;
  if (commands == nullptr) {
    std::fprintf(stderr, "%s: cannot open %s\n", program, fifo);
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  char line[256];
  for (int count = 1; std::fgets(line, sizeof line, commands) != nullptr; ++count) {
    if (!RunPointerCommand(pointer, line)) {
      std::fprintf(stderr, "%s: \"%s\" failed\n", program, line);
      return 1;
    }
    std::printf("done %d\n", count);
    std::fflush(stdout);
  }
  return 0;
}

} // namespace helpers
