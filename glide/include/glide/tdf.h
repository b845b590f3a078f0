// The .3df texture file: the one table of texel formats that the reader, texture memory and the
// writer share, and the reader on a file image in memory, for fuzzing, tests and tools.
#pragma once

#include <cstddef>
#include <string_view>

#include "glide/glide.h"

namespace glide {

// What travels with the texels of a format: nothing, the NCC table of the YIQ formats, or the
// palette.
enum class TableKind { None, Ncc, Palette };

struct TexelFormat {
  GrTextureFormat_t code;
  std::string_view name; // as a file's header names it, in lower case
  int bytesPerTexel;
  TableKind table;
};

// Every texel format there is. The codes in between (6, 7 and 0xF) are reserved.
inline constexpr TexelFormat TexelFormats[] = {
    {GR_TEXFMT_RGB_332, "rgb332", 1, TableKind::None},
    {GR_TEXFMT_YIQ_422, "yiq", 1, TableKind::Ncc},
    {GR_TEXFMT_ALPHA_8, "a8", 1, TableKind::None},
    {GR_TEXFMT_INTENSITY_8, "i8", 1, TableKind::None},
    {GR_TEXFMT_ALPHA_INTENSITY_44, "ai44", 1, TableKind::None},
    {GR_TEXFMT_P_8, "p8", 1, TableKind::Palette},
    {GR_TEXFMT_ARGB_8332, "argb8332", 2, TableKind::None},
    {GR_TEXFMT_AYIQ_8422, "ayiq8422", 2, TableKind::Ncc},
    {GR_TEXFMT_RGB_565, "rgb565", 2, TableKind::None},
    {GR_TEXFMT_ARGB_1555, "argb1555", 2, TableKind::None},
    {GR_TEXFMT_ARGB_4444, "argb4444", 2, TableKind::None},
    {GR_TEXFMT_ALPHA_INTENSITY_88, "ai88", 2, TableKind::None},
    {GR_TEXFMT_AP_88, "ap88", 2, TableKind::Palette},
};

// The format with this code, or null when the code names none.
const TexelFormat* FindTexelFormat(GrTextureFormat_t code);
// The format a header names, in any mixture of upper and lower case, or null.
const TexelFormat* FindTexelFormatByName(std::string_view name);

// The same checks and results as gu3dfGetInfo and gu3dfLoad on a file with these bytes.
FxBool Get3dfInfoFromMemory(const void* bytes, std::size_t size, Gu3dfInfo* info);
FxBool Load3dfFromMemory(const void* bytes, std::size_t size, Gu3dfInfo* info);

} // namespace glide
