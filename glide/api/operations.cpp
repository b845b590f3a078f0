// The library's operations: thin functions over its one context.
#include <algorithm>
#include <cstring>

#include "api/context.h"
#include "texture/tdf_reader.h"

namespace glide {
namespace {

// Every operation tells the observer first. All but triangle drawing then draw the half sprite
// the rasterizer may hold back, so that they see (and change) only what was drawn before them.
Context& Enter(Operation operation) {
  Context& context = TheContext();
  if (context.observer) context.observer(operation, context.observerContext);
  return context;
}

Context& EnterAfterDrawing(Operation operation) {
  Context& context = Enter(operation);
  context.rasterizer.Flush(context.frame);
  return context;
}

Board& CurrentBoard(Context& context) { return context.selectedBoard ? *context.selectedBoard : context.builtInBoard; }

// What a combine unit in the library's general form delivers, among what this library draws:
// the iterated value, or nothing (the constant colour, which no operation sets, is black).
enum class Combined { Zero, Iterated, NotDrawn };

Combined Combine(GrCombineFunction_t function, GrCombineFactor_t factor, GrCombineLocal_t local,
                 GrCombineOther_t other, FxBool invert) {
  if (invert != FXFALSE) return Combined::NotDrawn;
  switch (function) {
  case GR_COMBINE_FUNCTION_ZERO:
    return Combined::Zero;
  case GR_COMBINE_FUNCTION_LOCAL:
    if (local == GR_COMBINE_LOCAL_ITERATED) return Combined::Iterated;
    if (local == GR_COMBINE_LOCAL_CONSTANT) return Combined::Zero;
    return Combined::NotDrawn;
  case GR_COMBINE_FUNCTION_SCALE_OTHER:
    if (factor == GR_COMBINE_FACTOR_ZERO) return Combined::Zero;
    if (factor != GR_COMBINE_FACTOR_ONE) return Combined::NotDrawn;
    if (other == GR_COMBINE_OTHER_ITERATED) return Combined::Iterated;
    if (other == GR_COMBINE_OTHER_CONSTANT) return Combined::Zero;
    return Combined::NotDrawn;
  default:
    return Combined::NotDrawn;
  }
}

std::int32_t ClampToScreen(FxU32 value, int size) { return static_cast<std::int32_t>(std::min<FxU32>(value, size)); }

} // namespace

RenderState DefaultRenderState() {
  RenderState state{};
  state.colorSource = ColorSource::Iterated;
  state.alphaSource = AlphaSource::Iterated;
  state.rgbSourceFactor = GR_BLEND_ONE;
  state.rgbDestinationFactor = GR_BLEND_ZERO;
  state.alphaSourceFactor = GR_BLEND_ONE;
  state.alphaDestinationFactor = GR_BLEND_ZERO;
  state.textureCombine = GR_TEXTURECOMBINE_ZERO;
  state.textureSource = GR_NULL_MIPMAP_HANDLE;
  state.clipMinX = 0;
  state.clipMinY = 0;
  state.clipMaxX = ScreenWidth;
  state.clipMaxY = ScreenHeight;
  return state;
}

RenderState Sanitized(const RenderState& state) {
  RenderState result = state;
  if (result.colorSource < ColorSource::Zero || result.colorSource > ColorSource::TextureTimesIterated) {
    result.colorSource = ColorSource::Zero;
  }
  if (result.alphaSource < AlphaSource::Zero || result.alphaSource > AlphaSource::Iterated) {
    result.alphaSource = AlphaSource::Zero;
  }
  result.clipMinX = std::clamp(result.clipMinX, 0, ScreenWidth);
  result.clipMaxX = std::clamp(result.clipMaxX, result.clipMinX, ScreenWidth);
  result.clipMinY = std::clamp(result.clipMinY, 0, ScreenHeight);
  result.clipMaxY = std::clamp(result.clipMaxY, result.clipMinY, ScreenHeight);
  return result;
}

Context& TheContext() {
  static Context context;
  return context;
}

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

void SetOperationObserver(OperationObserver observer, void* context) {
  Context& library = TheContext();
  library.observer = observer;
  library.observerContext = context;
}

void SelectBoard(Board* board) { TheContext().selectedBoard = board; }

FrameView CurrentFrame() {
  Context& context = TheContext();
  context.rasterizer.Flush(context.frame);
  return {context.frame.pixels, ScreenWidth, ScreenHeight, ScreenWidth};
}

bool SelectSpritePath(SpritePath path) {
  Context& context = TheContext();
  context.rasterizer.Flush(context.frame);
  return context.rasterizer.SelectPath(path);
}

} // namespace glide

using glide::Operation;

void grGlideInit(void) {
  glide::Context& context = glide::EnterAfterDrawing(Operation::GlideInit);
  if (context.initialised) return;
  context.state = glide::DefaultRenderState();
  context.textures.Reset();
  context.initialised = true;
}

FxBool grSstQueryHardware(GrHwConfiguration* hwConfig) {
  glide::Context& context = glide::EnterAfterDrawing(Operation::SstQueryHardware);
  const bool found = glide::CurrentBoard(context).QueryHardware();
  if (hwConfig) {
    std::memset(hwConfig, 0, sizeof *hwConfig);
    if (found) {
      hwConfig->num_sst = 1;
      hwConfig->SSTs[0].type = GR_SSTTYPE_VOODOO;
      hwConfig->SSTs[0].fbRam = 4;
      hwConfig->SSTs[0].nTexelfx = 1;
      hwConfig->SSTs[0].tmuRam = static_cast<int>(glide::TextureMemoryBytes >> 20);
    }
  }
  return found ? FXTRUE : FXFALSE;
}

void grSstSelect(int) {
  // There is one board; selecting it changes nothing.
  glide::EnterAfterDrawing(Operation::SstSelect);
}

FxBool grSstWinOpen(FxU32, GrScreenResolution_t resolution, GrScreenRefresh_t, GrColorFormat_t colorFormat,
                    GrOriginLocation_t origin, int, int) {
  glide::Context& context = glide::EnterAfterDrawing(Operation::SstWinOpen);
  // This library draws 640 × 480 with the origin at the lower left, and nothing else.
  if (!context.initialised || context.displayOpen || resolution != GR_RESOLUTION_640x480 ||
      origin != GR_ORIGIN_LOWER_LEFT || (colorFormat != GR_COLORFORMAT_ARGB && colorFormat != GR_COLORFORMAT_ABGR)) {
    return FXFALSE;
  }
  glide::Board& board = glide::CurrentBoard(context);
  if (!board.Open()) return FXFALSE;
  context.openBoard = &board;
  context.displayOpen = true;
  context.colorFormat = colorFormat;
  // A new display shows the whole first frame.
  std::fill(std::begin(context.frame.pixels), std::end(context.frame.pixels), 0u);
  context.frame.damage.MarkAllBlack();
  return FXTRUE;
}

void grClipWindow(FxU32 minX, FxU32 minY, FxU32 maxX, FxU32 maxY) {
  glide::Context& context = glide::EnterAfterDrawing(Operation::ClipWindow);
  glide::RenderState& state = context.state;
  state.clipMinX = glide::ClampToScreen(minX, glide::ScreenWidth);
  state.clipMinY = glide::ClampToScreen(minY, glide::ScreenHeight);
  state.clipMaxX = std::max(state.clipMinX, glide::ClampToScreen(maxX, glide::ScreenWidth));
  state.clipMaxY = std::max(state.clipMinY, glide::ClampToScreen(maxY, glide::ScreenHeight));
}

void grGlideShutdown(void) {
  glide::Context& context = glide::EnterAfterDrawing(Operation::GlideShutdown);
  if (!context.initialised) return;
  if (context.displayOpen && context.openBoard) context.openBoard->Close();
  context.displayOpen = false;
  context.openBoard = nullptr;
  context.textures.Reset();
  context.state = glide::DefaultRenderState();
  context.initialised = false;
}

FxBool gu3dfGetInfo(const char* fileName, Gu3dfInfo* info) {
  glide::EnterAfterDrawing(Operation::Gu3dfGetInfo);
  return glide::Get3dfInfoFromFile(fileName, info) ? FXTRUE : FXFALSE;
}

FxBool gu3dfLoad(const char* fileName, Gu3dfInfo* info) {
  glide::EnterAfterDrawing(Operation::Gu3dfLoad);
  return glide::Load3dfFromFile(fileName, info) ? FXTRUE : FXFALSE;
}

GrMipMapId_t guTexAllocateMemory(GrChipID_t tmu, FxU8 oddEvenMask, int width, int height, GrTextureFormat_t format,
                                 GrMipMapMode_t mipmapMode, GrLOD_t smallestLod, GrLOD_t largestLod,
                                 GrAspectRatio_t aspect, GrTextureClampMode_t sClampMode,
                                 GrTextureClampMode_t tClampMode, GrTextureFilterMode_t minFilterMode,
                                 GrTextureFilterMode_t magFilterMode, float lodBias, FxBool trilinear) {
  glide::Context& context = glide::EnterAfterDrawing(Operation::TexAllocateMemory);
  return context.textures.Allocate({tmu, oddEvenMask, width, height, format, mipmapMode, smallestLod, largestLod,
                                    aspect, sClampMode, tClampMode, minFilterMode, magFilterMode, lodBias, trilinear});
}

void guTexDownloadMipMap(GrMipMapId_t mipmapId, const void* source, const GuTexTable* table) {
  glide::Context& context = glide::EnterAfterDrawing(Operation::TexDownloadMipMap);
  context.textures.Download(mipmapId, source, table);
}

void guTexSource(GrMipMapId_t mipmapId) {
  glide::EnterAfterDrawing(Operation::TexSource).state.textureSource = mipmapId;
}

void guColorCombineFunction(GrColorCombineFnc_t function) {
  glide::RenderState& state = glide::EnterAfterDrawing(Operation::ColorCombineFunction).state;
  switch (function) {
  case GR_COLORCOMBINE_ZERO:
  case GR_COLORCOMBINE_CCRGB: state.colorSource = glide::ColorSource::Zero; break;
  case GR_COLORCOMBINE_ITRGB: state.colorSource = glide::ColorSource::Iterated; break;
  case GR_COLORCOMBINE_TEXTURE_TIMES_ITRGB: state.colorSource = glide::ColorSource::TextureTimesIterated; break;
  default: break; // a combine this library does not draw leaves the state as it was
  }
}

void grColorCombine(GrCombineFunction_t function, GrCombineFactor_t factor, GrCombineLocal_t local,
                    GrCombineOther_t other, FxBool invert) {
  glide::RenderState& state = glide::EnterAfterDrawing(Operation::ColorCombine).state;
  switch (glide::Combine(function, factor, local, other, invert)) {
  case glide::Combined::Zero: state.colorSource = glide::ColorSource::Zero; break;
  case glide::Combined::Iterated: state.colorSource = glide::ColorSource::Iterated; break;
  case glide::Combined::NotDrawn: break;
  }
}

void grAlphaCombine(GrCombineFunction_t function, GrCombineFactor_t factor, GrCombineLocal_t local,
                    GrCombineOther_t other, FxBool invert) {
  glide::RenderState& state = glide::EnterAfterDrawing(Operation::AlphaCombine).state;
  switch (glide::Combine(function, factor, local, other, invert)) {
  case glide::Combined::Zero: state.alphaSource = glide::AlphaSource::Zero; break;
  case glide::Combined::Iterated: state.alphaSource = glide::AlphaSource::Iterated; break;
  case glide::Combined::NotDrawn: break;
  }
}

void grAlphaBlendFunction(GrAlphaBlendFnc_t rgbSourceFactor, GrAlphaBlendFnc_t rgbDestinationFactor,
                          GrAlphaBlendFnc_t alphaSourceFactor, GrAlphaBlendFnc_t alphaDestinationFactor) {
  glide::RenderState& state = glide::EnterAfterDrawing(Operation::AlphaBlendFunction).state;
  state.rgbSourceFactor = rgbSourceFactor;
  state.rgbDestinationFactor = rgbDestinationFactor;
  state.alphaSourceFactor = alphaSourceFactor;
  state.alphaDestinationFactor = alphaDestinationFactor;
}

void guAlphaSource(GrAlphaSource_t source) {
  glide::RenderState& state = glide::EnterAfterDrawing(Operation::AlphaSource).state;
  if (source == GR_ALPHASOURCE_ITERATED_ALPHA) state.alphaSource = glide::AlphaSource::Iterated;
  if (source == GR_ALPHASOURCE_CC_ALPHA) state.alphaSource = glide::AlphaSource::Zero; // the constant is 0
}

void grTexCombineFunction(GrChipID_t tmu, GrTextureCombineFnc_t function) {
  glide::RenderState& state = glide::EnterAfterDrawing(Operation::TexCombineFunction).state;
  if (tmu == GR_TMU0 && function >= GR_TEXTURECOMBINE_ZERO && function <= GR_TEXTURECOMBINE_ADD) {
    state.textureCombine = function;
  }
}

void grGlideGetState(GrState* state) {
  glide::Context& context = glide::EnterAfterDrawing(Operation::GlideGetState);
  if (!state) return;
  std::memset(state, 0, sizeof *state);
  std::memcpy(state->pad, &context.state, sizeof context.state);
}

void grGlideSetState(const GrState* state) {
  glide::Context& context = glide::EnterAfterDrawing(Operation::GlideSetState);
  if (!state) return;
  glide::RenderState restored;
  std::memcpy(&restored, state->pad, sizeof restored);
  context.state = glide::Sanitized(restored);
}

void grBufferClear(GrColor_t color, GrAlpha_t, FxU16) {
  // The frame keeps colour only: no alpha or depth planes are cleared.
  glide::Context& context = glide::EnterAfterDrawing(Operation::BufferClear);
  std::uint32_t rgb = color & 0xFFFFFF;
  if (context.colorFormat == GR_COLORFORMAT_ABGR) {
    rgb = (color & 0xFF) << 16 | (color & 0xFF00) | (color >> 16 & 0xFF);
  }
  glide::ClearClipWindow(context.state, rgb, context.frame);
}

void grBufferSwap(int) {
  glide::Context& context = glide::EnterAfterDrawing(Operation::BufferSwap);
  if (!context.displayOpen || !context.openBoard) return;
  context.openBoard->Present({context.frame.pixels, glide::ScreenWidth, glide::ScreenHeight, glide::ScreenWidth,
                              &context.frame.damage.Damage()});
  context.frame.damage.Presented();
}

void grDrawTriangle(const GrVertex* a, const GrVertex* b, const GrVertex* c) {
  glide::Context& context = glide::Enter(Operation::DrawTriangle);
  if (!a || !b || !c) return;
  context.rasterizer.Draw(*a, *b, *c, context.state, context.textures, context.frame);
}
