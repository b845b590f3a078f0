// What tests, tools and benchmarks may watch and choose in the graphics library beyond its API.
#pragma once

#include "glide/board.h"
#include "glide/operation_list.h"

namespace glide {

// The frame being drawn (the back buffer), for tests and tools that read pixels.
FrameView CurrentFrame();

// One entry per public operation of the library, in the order of its list.
enum class Operation {
#define GLIDE_OPERATION_ENTRY(name, Result, function, Parameters) name,
  GLIDE_OPERATIONS(GLIDE_OPERATION_ENTRY)
#undef GLIDE_OPERATION_ENTRY
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
