// The one way the program ends when it cannot show anything: its line, the display given back, status -1.
#include "platform/platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace platform {

void Fail(void (*closeDisplay)(), const char* format, ...) {
  // The line is written as it is formatted: when memory has run out, nothing may be allocated.
  std::va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  if (closeDisplay == nullptr) {
    std::fflush(stderr);
    std::_Exit(FailureStatus);
  }
  closeDisplay();
  std::exit(FailureStatus);
}

} // namespace platform
