// The graphics library's one context: the session and its board, the render state, texture
// memory, the device and its frame. Each operation of the API is a thin function over one of its
// members.
#pragma once

#include "device/frame_buffer.h"
#include "device/rasterizer.h"
#include "device/render_state.h"
#include "glide/board.h"
#include "glide/glide.h"
#include "glide/inspection.h"
#include "texture/texture_memory.h"

namespace glide {

class Context {
public:
  // Tells the observer, if one is set, that an operation starts.
  void Observe(Operation operation) const {
    if (observer_) observer_(operation, observerContext_);
  }
  void SetObserver(OperationObserver observer, void* observerContext);

  // The session (context.cpp). Shutdown does nothing when the library was never initialised or
  // is shut down already.
  void Init();
  bool QueryHardware(GrHwConfiguration* configuration);
  bool OpenDisplay(GrScreenResolution_t resolution, GrColorFormat_t colorFormat, GrOriginLocation_t origin);
  void Shutdown();
  void SelectBoard(Board* board);

  // The render state (state.cpp): every setter maps the API's values into the device's terms
  // when it is called, so that drawing reads them as they are. Values this library does not draw
  // leave the state as it was, unless a note says otherwise.
  void SetClipWindow(FxU32 minX, FxU32 minY, FxU32 maxX, FxU32 maxY);
  void SetColorCombineFunction(GrColorCombineFnc_t function);
  void SetColorCombine(GrCombineFunction_t function, GrCombineFactor_t factor, GrCombineLocal_t local,
                       GrCombineOther_t other, FxBool invert);
  void SetAlphaCombine(GrCombineFunction_t function, GrCombineFactor_t factor, GrCombineLocal_t local,
                       GrCombineOther_t other, FxBool invert);
  void SetBlendFunction(GrAlphaBlendFnc_t rgbSourceFactor, GrAlphaBlendFnc_t rgbDestinationFactor);
  void SetAlphaSource(GrAlphaSource_t source);
  void SetTextureCombine(GrChipID_t tmu, GrTextureCombineFnc_t function);
  void SetTextureSource(GrMipMapId_t mipmapId) { state_.textureSource = mipmapId; }
  void SaveState(GrState* block) const;
  void RestoreState(const GrState* block);

  // Texture memory.
  GrMipMapId_t AllocateTexture(const TextureRequest& request) { return textures_.Allocate(request); }
  void DownloadTexture(GrMipMapId_t id, const void* source, const GuTexTable* table) {
    textures_.Download(id, source, table);
  }

  // The frame (context.cpp).
  void Clear(GrColor_t color);
  void Swap();
  void DrawTriangle(const GrVertex* a, const GrVertex* b, const GrVertex* c);
  // Flushes the device: draws the half sprite it may hold back. Every operation but triangle
  // drawing flushes first, so that it sees (and changes) only what was drawn before it.
  void Flush() { rasterizer_.Flush(frame_); }
  FrameView Frame();
  bool SelectSpritePath(SpritePath path);

private:
  Board& CurrentBoard() { return selectedBoard_ ? *selectedBoard_ : builtInBoard_; }

  bool initialised_ = false;
  bool displayOpen_ = false;
  GrColorFormat_t colorFormat_ = GR_COLORFORMAT_ARGB;
  Board* selectedBoard_ = nullptr; // null: the built-in headless board
  Board* openBoard_ = nullptr;     // the board opened by grSstWinOpen, closed by shutdown
  HeadlessBoard builtInBoard_;

  OperationObserver observer_ = nullptr;
  void* observerContext_ = nullptr;

  RenderState state_ = DefaultRenderState();
  TextureMemory textures_;
  Rasterizer rasterizer_;
  FrameBuffer frame_;
};

// The one context of the library.
Context& TheContext();

} // namespace glide
