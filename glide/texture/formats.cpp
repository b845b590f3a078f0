// Finding a texel format in the one table of them, by code or by the name a file gives it.
#include "glide/tdf.h"

namespace glide {

const TexelFormat* FindTexelFormat(GrTextureFormat_t code) {
  for (const TexelFormat& format : TexelFormats) {
    if (format.code == code) return &format;
  }
  return nullptr;
}

const TexelFormat* FindTexelFormatByName(std::string_view name) {
  auto lowerCase = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (const TexelFormat& format : TexelFormats) {
    if (name.size() != format.name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) same = lowerCase(name[i]) == format.name[i];
    if (same) return &format;
  }
  return nullptr;
}

} // namespace glide
