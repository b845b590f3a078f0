// The entry point of the benchmarks that run the show: they start in the build tree, where the show finds its texture.
#include <benchmark/benchmark.h>

#include <unistd.h>

int main(int argc, char** argv) {
  // The show loads "flare.3df" from its working directory: the top of the build tree.
  if (chdir(PYROVANE_BUILD_DIR) != 0) return 1;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
