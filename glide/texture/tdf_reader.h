// The .3df texture file reader behind gu3dfGetInfo and gu3dfLoad.
#pragma once

#include "glide/glide.h"

namespace glide {

// Get3dfInfoFromMemory and Load3dfFromMemory on the start of a file, read into memory: no more
// than the longest header and the largest table and texels there can be, so a huge or endless
// file costs nothing. On failure they set errno as glide.h says of gu3dfGetInfo and gu3dfLoad.
bool Get3dfInfoFromFile(const char* fileName, Gu3dfInfo* info);
bool Load3dfFromFile(const char* fileName, Gu3dfInfo* info);

} // namespace glide
