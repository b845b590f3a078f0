// The .3df texture file: the reader on a file image in memory, for fuzzing, tests and tools.
#pragma once

#include <cstddef>

#include "glide/glide.h"

namespace glide {

// The same checks and results as gu3dfGetInfo and gu3dfLoad on a file with these bytes.
FxBool Get3dfInfoFromMemory(const void* bytes, std::size_t size, Gu3dfInfo* info);
FxBool Load3dfFromMemory(const void* bytes, std::size_t size, Gu3dfInfo* info);

} // namespace glide
