// Replays every file of the committed seed corpus through the .3df reader's fuzz target, so the
// normal build runs what the fuzzer starts from.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

TEST(TdfReaderFuzzReplay, RunsEveryFileOfTheSeedCorpus) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(PYROVANE_SEED_CORPUS)) {
    std::ifstream stream(entry.path(), std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    SCOPED_TRACE(entry.path().filename().string());
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
    ++files;
  }
  // One valid file of each of the 13 formats, the accepted variants and the malformed cases.
  EXPECT_GE(files, 40);
}

} // namespace
