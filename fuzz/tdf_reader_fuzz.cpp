// Fuzz target of the .3df reader alone: any bytes are described and loaded, and the reader's
// promises checked, tens of thousands of inputs a second.
#include "tdf_fuzz_reading.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Gu3dfInfo info;
  tdffuzz::ReadChecked(data, size, info);
  return 0;
}
