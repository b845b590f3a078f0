// Replays every file of the committed seed corpus through a fuzz target of the .3df reader, so the
// normal build runs what the fuzzer starts from, and checks that the corpus is exactly the named
// cases: a valid file of every format, the accepted variants and every malformed case.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/tdf_cases.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::map<std::string, std::vector<std::uint8_t>> CommittedCorpus() {
  std::map<std::string, std::vector<std::uint8_t>> files;
  for (const auto& entry : std::filesystem::directory_iterator(PYROVANE_SEED_CORPUS)) {
    const std::string bytes = support::ReadWhole(entry.path());
    files[entry.path().filename().string()] = {bytes.begin(), bytes.end()};
  }
  return files;
}

TEST(TdfReaderFuzzReplay, RunsEveryFileOfTheSeedCorpus) {
  const auto corpus = CommittedCorpus();
  for (const auto& [name, bytes] : corpus) {
    SCOPED_TRACE(name);
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  }
  EXPECT_FALSE(corpus.empty());
}

// Our own files only, each as the named cases make it: a case added without rewriting the corpus
// (build/fuzz/make-seed-corpus fuzz/corpus), or a file that is no case, fails here.
TEST(TdfReaderFuzzReplay, TheSeedCorpusIsExactlyTheNamedCases) {
  auto corpus = CommittedCorpus();
  int validFiles = 0;
  for (const tdf_cases::NamedFile& file : tdf_cases::SeedCorpus()) {
    const auto committed = corpus.find(file.name);
    if (committed == corpus.end()) {
      ADD_FAILURE() << file.name << " is missing from the corpus";
      continue;
    }
    EXPECT_TRUE(committed->second == file.bytes) << file.name << " differs from its case";
    corpus.erase(committed);
    validFiles += file.name.starts_with("valid-") ? 1 : 0;
  }
  for (const auto& [name, bytes] : corpus) ADD_FAILURE() << name << " is not a named case";
  EXPECT_EQ(validFiles, static_cast<int>(std::size(tdf_cases::AllFormats))) << "one valid file of every format";
}

} // namespace
