// The graphics library's public operations, listed once for glide.h, inspection.h and the library.
#pragma once

// GLIDE_OPERATIONS(OPERATION) expands OPERATION(Name, Result, function, Parameters) once for each
// operation, in the order of the API: Name is its number in glide::Operation, function its name in
// the library, Result and Parameters its prototype. The table passed to guTexDownloadMipMap is the
// palette or NCC table that goes with the texels; formats that need none ignore it.
// The list is laid out by hand: inside a macro argument, clang-format reads `Type* name` as a
// multiplication.
// clang-format off
#define GLIDE_OPERATIONS(OPERATION)                                                                                    \
  OPERATION(GlideInit, void, grGlideInit, (void))                                                                      \
  OPERATION(SstQueryHardware, FxBool, grSstQueryHardware, (GrHwConfiguration* hwConfig))                               \
  OPERATION(SstSelect, void, grSstSelect, (int whichSst))                                                              \
  OPERATION(SstWinOpen, FxBool, grSstWinOpen,                                                                          \
            (FxU32 hWnd, GrScreenResolution_t resolution, GrScreenRefresh_t refresh, GrColorFormat_t colorFormat,      \
             GrOriginLocation_t origin, int colorBuffers, int auxBuffers))                                             \
  OPERATION(ClipWindow, void, grClipWindow, (FxU32 minX, FxU32 minY, FxU32 maxX, FxU32 maxY))                          \
  OPERATION(GlideShutdown, void, grGlideShutdown, (void))                                                              \
  OPERATION(Gu3dfGetInfo, FxBool, gu3dfGetInfo, (const char* fileName, Gu3dfInfo* info))                               \
  OPERATION(Gu3dfLoad, FxBool, gu3dfLoad, (const char* fileName, Gu3dfInfo* info))                                     \
  OPERATION(TexAllocateMemory, GrMipMapId_t, guTexAllocateMemory,                                                      \
            (GrChipID_t tmu, FxU8 oddEvenMask, int width, int height, GrTextureFormat_t format,                        \
             GrMipMapMode_t mipmapMode, GrLOD_t smallestLod, GrLOD_t largestLod, GrAspectRatio_t aspect,               \
             GrTextureClampMode_t sClampMode, GrTextureClampMode_t tClampMode, GrTextureFilterMode_t minFilterMode,    \
             GrTextureFilterMode_t magFilterMode, float lodBias, FxBool trilinear))                                    \
  OPERATION(TexDownloadMipMap, void, guTexDownloadMipMap,                                                              \
            (GrMipMapId_t mipmapId, const void* source, const GuTexTable* table))                                      \
  OPERATION(TexSource, void, guTexSource, (GrMipMapId_t mipmapId))                                                     \
  OPERATION(ColorCombineFunction, void, guColorCombineFunction, (GrColorCombineFnc_t function))                        \
  OPERATION(ColorCombine, void, grColorCombine,                                                                        \
            (GrCombineFunction_t function, GrCombineFactor_t factor, GrCombineLocal_t local, GrCombineOther_t other,   \
             FxBool invert))                                                                                           \
  OPERATION(AlphaCombine, void, grAlphaCombine,                                                                        \
            (GrCombineFunction_t function, GrCombineFactor_t factor, GrCombineLocal_t local, GrCombineOther_t other,   \
             FxBool invert))                                                                                           \
  OPERATION(AlphaBlendFunction, void, grAlphaBlendFunction,                                                            \
            (GrAlphaBlendFnc_t rgbSourceFactor, GrAlphaBlendFnc_t rgbDestinationFactor,                                \
             GrAlphaBlendFnc_t alphaSourceFactor, GrAlphaBlendFnc_t alphaDestinationFactor))                           \
  OPERATION(AlphaSource, void, guAlphaSource, (GrAlphaSource_t source))                                                \
  OPERATION(TexCombineFunction, void, grTexCombineFunction, (GrChipID_t tmu, GrTextureCombineFnc_t function))          \
  OPERATION(GlideGetState, void, grGlideGetState, (GrState* state))                                                    \
  OPERATION(GlideSetState, void, grGlideSetState, (const GrState* state))                                              \
  OPERATION(BufferClear, void, grBufferClear, (GrColor_t color, GrAlpha_t alpha, FxU16 depth))                         \
  OPERATION(BufferSwap, void, grBufferSwap, (int swapInterval))                                                        \
  OPERATION(DrawTriangle, void, grDrawTriangle, (const GrVertex* a, const GrVertex* b, const GrVertex* c))
// clang-format on
