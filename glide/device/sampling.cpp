// Sampling: texel coordinates too large for the usual rounding.
#include "device/sampling.h"

namespace glide {

// Beyond 2^35 texels the fixed-point value no longer fits the rounding; only the coordinate
// modulo the side matters, so that is what is rounded.
std::uint32_t HugeToFixed(double texels, int size) {
  if (!std::isfinite(texels)) return 0;
  return static_cast<std::uint32_t>(RoundToInteger(std::fmod(texels, size) * TexelFractionScale));
}

} // namespace glide
