// The .3df texture file reader behind gu3dfGetInfo and gu3dfLoad.
#pragma once

#include "glide/glide.h"

namespace glide {

// The same reads as Get3dfInfoFromMemory and Load3dfFromMemory, from a file. Neither reads more
// than the header and the data the header announces, so a huge or endless file costs nothing.
bool Get3dfInfoFromFile(const char* fileName, Gu3dfInfo* info);
bool Load3dfFromFile(const char* fileName, Gu3dfInfo* info);

} // namespace glide
