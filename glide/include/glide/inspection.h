// What tests, tools and benchmarks may watch and choose in the graphics library beyond its API.
#pragma once

#include <cstdint>

#include "glide/board.h"

namespace glide {

// The frame being drawn (the back buffer), for tests and tools that read pixels.
FrameView CurrentFrame();

// Texture memory, counted in the texel bytes of the textures' own formats as the boards of the
// day counted it. guTexAllocateMemory returns GR_NULL_MIPMAP_HANDLE once it is used up.
inline constexpr std::uint32_t TextureMemoryBytes = 4u << 20;

// One entry per public operation of the library, in the order its API header declares them.
enum class Operation {
  GlideInit,
  SstQueryHardware,
  SstSelect,
  SstWinOpen,
  ClipWindow,
  GlideShutdown,
  Gu3dfGetInfo,
  Gu3dfLoad,
  TexAllocateMemory,
  TexDownloadMipMap,
  TexSource,
  ColorCombineFunction,
  ColorCombine,
  AlphaCombine,
  AlphaBlendFunction,
  AlphaSource,
  TexCombineFunction,
  GlideGetState,
  GlideSetState,
  BufferClear,
  BufferSwap,
  DrawTriangle,
};

// The library's own name of an operation ("grDrawTriangle"), for traces and test messages.
const char* OperationName(Operation operation);

// Sees every public operation at its start, with the context given when it was set. Tests use it
// to check the order of library calls. Null (the default) observes nothing.
using OperationObserver = void (*)(Operation operation, void* context);
void SetOperationObserver(OperationObserver observer, void* context);

// Which code draws the show's common case, an additive sprite textured with a grey texture.
// Every choice gives the same pixels; tests and benchmarks compare them. `Fastest` picks the
// vector code when the processor has it, `General` draws every triangle pixel by pixel.
enum class SpritePath { Fastest, General, Portable, Avx2 };
// Returns false, and keeps the current choice, when this processor cannot run `path`.
bool SelectSpritePath(SpritePath path);

} // namespace glide
