// The library's operations: each tells the observer, flushes the device (all but triangle
// drawing), and hands its arguments to the one context.
#include "api/context.h"
#include "texture/tdf_reader.h"

namespace glide {
namespace {

Context& Enter(Operation operation) {
  Context& context = TheContext();
  context.Observe(operation);
  return context;
}

// Every operation but triangle drawing flushes the device first (see Context::Flush).
Context& EnterAndFlush(Operation operation) {
  Context& context = Enter(operation);
  context.Flush();
  return context;
}

} // namespace

const char* OperationName(Operation operation) {
  switch (operation) {
#define GLIDE_OPERATION_NAME(name, Result, function, Parameters)                                                       \
  case Operation::name: return #function;
    GLIDE_OPERATIONS(GLIDE_OPERATION_NAME)
#undef GLIDE_OPERATION_NAME
  }
  return "unknown";
}

void SetOperationObserver(OperationObserver observer, void* context) { TheContext().SetObserver(observer, context); }

void SelectBoard(Board* board) { TheContext().SelectBoard(board); }

FrameView CurrentFrame() { return TheContext().Frame(); }

bool SelectSpritePath(SpritePath path) { return TheContext().SelectSpritePath(path); }

} // namespace glide

using glide::EnterAndFlush;
using glide::Operation;

void grGlideInit(void) { EnterAndFlush(Operation::GlideInit).Init(); }

FxBool grSstQueryHardware(GrHwConfiguration* hwConfig) {
  return EnterAndFlush(Operation::SstQueryHardware).QueryHardware(hwConfig) ? FXTRUE : FXFALSE;
}

// There is one board; selecting it changes nothing.
void grSstSelect(int) { EnterAndFlush(Operation::SstSelect); }

FxBool grSstWinOpen(FxU32, GrScreenResolution_t resolution, GrScreenRefresh_t, GrColorFormat_t colorFormat,
                    GrOriginLocation_t origin, int, int) {
  return EnterAndFlush(Operation::SstWinOpen).OpenDisplay(resolution, colorFormat, origin) ? FXTRUE : FXFALSE;
}

void grClipWindow(FxU32 minX, FxU32 minY, FxU32 maxX, FxU32 maxY) {
  EnterAndFlush(Operation::ClipWindow).SetClipWindow(minX, minY, maxX, maxY);
}

void grGlideShutdown(void) { EnterAndFlush(Operation::GlideShutdown).Shutdown(); }

FxBool gu3dfGetInfo(const char* fileName, Gu3dfInfo* info) {
  EnterAndFlush(Operation::Gu3dfGetInfo);
  return glide::Get3dfInfoFromFile(fileName, info) ? FXTRUE : FXFALSE;
}

FxBool gu3dfLoad(const char* fileName, Gu3dfInfo* info) {
  EnterAndFlush(Operation::Gu3dfLoad);
  return glide::Load3dfFromFile(fileName, info) ? FXTRUE : FXFALSE;
}

GrMipMapId_t guTexAllocateMemory(GrChipID_t tmu, FxU8 oddEvenMask, int width, int height, GrTextureFormat_t format,
                                 GrMipMapMode_t mipmapMode, GrLOD_t smallestLod, GrLOD_t largestLod,
                                 GrAspectRatio_t aspect, GrTextureClampMode_t sClampMode,
                                 GrTextureClampMode_t tClampMode, GrTextureFilterMode_t minFilterMode,
                                 GrTextureFilterMode_t magFilterMode, float lodBias, FxBool trilinear) {
  return EnterAndFlush(Operation::TexAllocateMemory)
      .AllocateTexture({tmu, oddEvenMask, width, height, format, mipmapMode, smallestLod, largestLod, aspect,
                        sClampMode, tClampMode, minFilterMode, magFilterMode, lodBias, trilinear});
}

void guTexDownloadMipMap(GrMipMapId_t mipmapId, const void* source, const GuTexTable* table) {
  EnterAndFlush(Operation::TexDownloadMipMap).DownloadTexture(mipmapId, source, table);
}

void guTexSource(GrMipMapId_t mipmapId) { EnterAndFlush(Operation::TexSource).SetTextureSource(mipmapId); }

void guColorCombineFunction(GrColorCombineFnc_t function) {
  EnterAndFlush(Operation::ColorCombineFunction).SetColorCombineFunction(function);
}

void grColorCombine(GrCombineFunction_t function, GrCombineFactor_t factor, GrCombineLocal_t local,
                    GrCombineOther_t other, FxBool invert) {
  EnterAndFlush(Operation::ColorCombine).SetColorCombine(function, factor, local, other, invert);
}

void grAlphaCombine(GrCombineFunction_t function, GrCombineFactor_t factor, GrCombineLocal_t local,
                    GrCombineOther_t other, FxBool invert) {
  EnterAndFlush(Operation::AlphaCombine).SetAlphaCombine(function, factor, local, other, invert);
}

void grAlphaBlendFunction(GrAlphaBlendFnc_t rgbSourceFactor, GrAlphaBlendFnc_t rgbDestinationFactor, GrAlphaBlendFnc_t,
                          GrAlphaBlendFnc_t) {
  EnterAndFlush(Operation::AlphaBlendFunction).SetBlendFunction(rgbSourceFactor, rgbDestinationFactor);
}

void guAlphaSource(GrAlphaSource_t source) { EnterAndFlush(Operation::AlphaSource).SetAlphaSource(source); }

void grTexCombineFunction(GrChipID_t tmu, GrTextureCombineFnc_t function) {
  EnterAndFlush(Operation::TexCombineFunction).SetTextureCombine(tmu, function);
}

void grGlideGetState(GrState* state) { EnterAndFlush(Operation::GlideGetState).SaveState(state); }

void grGlideSetState(const GrState* state) { EnterAndFlush(Operation::GlideSetState).RestoreState(state); }

void grBufferClear(GrColor_t color, GrAlpha_t, FxU16) { EnterAndFlush(Operation::BufferClear).Clear(color); }

void grBufferSwap(int) { EnterAndFlush(Operation::BufferSwap).Swap(); }

void grDrawTriangle(const GrVertex* a, const GrVertex* b, const GrVertex* c) {
  glide::Enter(Operation::DrawTriangle).DrawTriangle(a, b, c);
}
