// Writes the .3df reader's seed corpus: a valid file of every format, the accepted header
// variants and every named malformed case, one file each, into the given directory.
//
//   make-seed-corpus fuzz/corpus
#include <cstdio>
#include <string>

#include "support/tdf_cases.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-seed-corpus <directory>\n");
    return 2;
  }
  const std::string directory = argv[1];
  bool written = true;
  for (const auto& file : tdf_cases::SeedCorpus())
    written &= tdf_writer::WriteFile(directory + "/" + file.name, file.bytes);
  if (!written) std::fprintf(stderr, "make-seed-corpus: cannot write into %s\n", argv[1]);
  return written ? 0 : 1;
}
