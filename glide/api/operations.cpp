// The library's operations: each tells the observer, draws what the device holds back (all but
// triangle drawing), and hands its arguments to the one context.
#include "api/context.h"
#include "texture/tdf_reader.h"

namespace glide {
namespace {

Context& Enter(Operation operation) {
  Context& context = TheContext();
  context.Observe(operation);
  return context;
}

Context& EnterAfterDrawing(Operation operation) {
  Context& context = Enter(operation);
  context.DrawHeldBack();
  return context;
}

} // namespace

const char* OperationName(Operation operation) {
  switch (operation) {
  case Operation::GlideInit: return "grGlideInit";
  case Operation::SstQueryHardware: return "grSstQueryHardware";
  case Operation::SstSelect: return "grSstSelect";
  case Operation::SstWinOpen: return "grSstWinOpen";
  case Operation::ClipWindow: return "grClipWindow";
  case Operation::GlideShutdown: return "grGlideShutdown";
  case Operation::Gu3dfGetInfo: return "gu3dfGetInfo";
  case Operation::Gu3dfLoad: return "gu3dfLoad";
  case Operation::TexAllocateMemory: return "guTexAllocateMemory";
  case Operation::TexDownloadMipMap: return "guTexDownloadMipMap";
  case Operation::TexSource: return "guTexSource";
  case Operation::ColorCombineFunction: return "guColorCombineFunction";
  case Operation::ColorCombine: return "grColorCombine";
  case Operation::AlphaCombine: return "grAlphaCombine";
  case Operation::AlphaBlendFunction: return "grAlphaBlendFunction";
  case Operation::AlphaSource: return "guAlphaSource";
  case Operation::TexCombineFunction: return "grTexCombineFunction";
  case Operation::GlideGetState: return "grGlideGetState";
  case Operation::GlideSetState: return "grGlideSetState";
  case Operation::BufferClear: return "grBufferClear";
  case Operation::BufferSwap: return "grBufferSwap";
  case Operation::DrawTriangle: return "grDrawTriangle";
  }
  return "unknown";
}

void SetOperationObserver(OperationObserver observer, void* context) { TheContext().SetObserver(observer, context); }

void SelectBoard(Board* board) { TheContext().SelectBoard(board); }

FrameView CurrentFrame() { return TheContext().Frame(); }

bool SelectSpritePath(SpritePath path) { return TheContext().SelectSpritePath(path); }

} // namespace glide

using glide::EnterAfterDrawing;
using glide::Operation;

void grGlideInit(void) { EnterAfterDrawing(Operation::GlideInit).Init(); }

FxBool grSstQueryHardware(GrHwConfiguration* hwConfig) {
  return EnterAfterDrawing(Operation::SstQueryHardware).QueryHardware(hwConfig) ? FXTRUE : FXFALSE;
}

// There is one board; selecting it changes nothing.
void grSstSelect(int) { EnterAfterDrawing(Operation::SstSelect); }

FxBool grSstWinOpen(FxU32, GrScreenResolution_t resolution, GrScreenRefresh_t, GrColorFormat_t colorFormat,
                    GrOriginLocation_t origin, int, int) {
  return EnterAfterDrawing(Operation::SstWinOpen).OpenDisplay(resolution, colorFormat, origin) ? FXTRUE : FXFALSE;
}

void grClipWindow(FxU32 minX, FxU32 minY, FxU32 maxX, FxU32 maxY) {
  EnterAfterDrawing(Operation::ClipWindow).SetClipWindow(minX, minY, maxX, maxY);
}

void grGlideShutdown(void) { EnterAfterDrawing(Operation::GlideShutdown).Shutdown(); }

FxBool gu3dfGetInfo(const char* fileName, Gu3dfInfo* info) {
  EnterAfterDrawing(Operation::Gu3dfGetInfo);
  return glide::Get3dfInfoFromFile(fileName, info) ? FXTRUE : FXFALSE;
}

FxBool gu3dfLoad(const char* fileName, Gu3dfInfo* info) {
  EnterAfterDrawing(Operation::Gu3dfLoad);
  return glide::Load3dfFromFile(fileName, info) ? FXTRUE : FXFALSE;
}

GrMipMapId_t guTexAllocateMemory(GrChipID_t tmu, FxU8 oddEvenMask, int width, int height, GrTextureFormat_t format,
                                 GrMipMapMode_t mipmapMode, GrLOD_t smallestLod, GrLOD_t largestLod,
                                 GrAspectRatio_t aspect, GrTextureClampMode_t sClampMode,
                                 GrTextureClampMode_t tClampMode, GrTextureFilterMode_t minFilterMode,
                                 GrTextureFilterMode_t magFilterMode, float lodBias, FxBool trilinear) {
  return EnterAfterDrawing(Operation::TexAllocateMemory)
      .AllocateTexture({tmu, oddEvenMask, width, height, format, mipmapMode, smallestLod, largestLod, aspect,
                        sClampMode, tClampMode, minFilterMode, magFilterMode, lodBias, trilinear});
}

void guTexDownloadMipMap(GrMipMapId_t mipmapId, const void* source, const GuTexTable* table) {
  EnterAfterDrawing(Operation::TexDownloadMipMap).DownloadTexture(mipmapId, source, table);
}

void guTexSource(GrMipMapId_t mipmapId) { EnterAfterDrawing(Operation::TexSource).SetTextureSource(mipmapId); }

void guColorCombineFunction(GrColorCombineFnc_t function) {
  EnterAfterDrawing(Operation::ColorCombineFunction).SetColorCombineFunction(function);
}

void grColorCombine(GrCombineFunction_t function, GrCombineFactor_t factor, GrCombineLocal_t local,
                    GrCombineOther_t other, FxBool invert) {
  EnterAfterDrawing(Operation::ColorCombine).SetColorCombine(function, factor, local, other, invert);
}

void grAlphaCombine(GrCombineFunction_t function, GrCombineFactor_t factor, GrCombineLocal_t local,
                    GrCombineOther_t other, FxBool invert) {
  EnterAfterDrawing(Operation::AlphaCombine).SetAlphaCombine(function, factor, local, other, invert);
}

void grAlphaBlendFunction(GrAlphaBlendFnc_t rgbSourceFactor, GrAlphaBlendFnc_t rgbDestinationFactor, GrAlphaBlendFnc_t,
                          GrAlphaBlendFnc_t) {
  EnterAfterDrawing(Operation::AlphaBlendFunction).SetBlendFunction(rgbSourceFactor, rgbDestinationFactor);
}

void guAlphaSource(GrAlphaSource_t source) { EnterAfterDrawing(Operation::AlphaSource).SetAlphaSource(source); }

void grTexCombineFunction(GrChipID_t tmu, GrTextureCombineFnc_t function) {
  EnterAfterDrawing(Operation::TexCombineFunction).SetTextureCombine(tmu, function);
}

void grGlideGetState(GrState* state) { EnterAfterDrawing(Operation::GlideGetState).SaveState(state); }

void grGlideSetState(const GrState* state) { EnterAfterDrawing(Operation::GlideSetState).RestoreState(state); }

void grBufferClear(GrColor_t color, GrAlpha_t, FxU16) { EnterAfterDrawing(Operation::BufferClear).Clear(color); }

void grBufferSwap(int) { EnterAfterDrawing(Operation::BufferSwap).Swap(); }

void grDrawTriangle(const GrVertex* a, const GrVertex* b, const GrVertex* c) {
  glide::Enter(Operation::DrawTriangle).DrawTriangle(a, b, c);
}
