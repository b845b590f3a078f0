// What the benchmarks that run the show share: the processor time of the timing thread.
#pragma once

#include <time.h>

namespace bench {

// This thread's processor time: a frame's cost without the time other programs took the core.
inline double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

} // namespace bench
