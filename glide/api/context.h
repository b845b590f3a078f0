// The graphics library's one context: render state, frame buffer, texture memory, board and observer.
#pragma once

#include <cstdint>

#include "device/frame_buffer.h"
#include "glide/board.h"
#include "glide/glide.h"
#include "glide/inspection.h"
#include "device/rasterizer.h"
#include "device/render_state.h"
#include "texture/texture_memory.h"

namespace glide {

struct Context {
  bool initialised = false;
  bool displayOpen = false;
  GrColorFormat_t colorFormat = GR_COLORFORMAT_ARGB;
  Board* selectedBoard = nullptr; // null: the built-in headless board
  Board* openBoard = nullptr;     // the board opened by grSstWinOpen, closed by shutdown
  HeadlessBoard builtInBoard;

  OperationObserver observer = nullptr;
  void* observerContext = nullptr;

  RenderState state = DefaultRenderState();
  TextureMemory textures;
  Rasterizer rasterizer;

  FrameBuffer frame;
};

// The one context of the library.
Context& TheContext();

} // namespace glide
