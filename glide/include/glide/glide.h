// The graphics library's API, as the old 3-D library spelled it: types, constants, records and operations.
#pragma once

#include <cstdint>

#include "glide/operation_list.h"

// ---------------------------------------------------------------------------------------------
// Basic types, as the library spells them.

typedef std::uint8_t FxU8;
typedef std::uint16_t FxU16;
typedef std::int16_t FxI16;
typedef std::uint32_t FxU32;
typedef std::int32_t FxI32;
typedef int FxBool;
#define FXTRUE 1
#define FXFALSE 0

typedef FxI32 GrChipID_t;
typedef FxU32 GrColor_t;
typedef FxU8 GrAlpha_t;
typedef FxU32 GrMipMapId_t;
typedef FxI32 GrScreenResolution_t;
typedef FxI32 GrScreenRefresh_t;
typedef FxI32 GrColorFormat_t;
typedef FxI32 GrOriginLocation_t;
typedef FxI32 GrColorCombineFnc_t;
typedef FxI32 GrCombineFunction_t;
typedef FxI32 GrCombineFactor_t;
typedef FxI32 GrCombineLocal_t;
typedef FxI32 GrCombineOther_t;
typedef FxI32 GrAlphaBlendFnc_t;
typedef FxI32 GrAlphaSource_t;
typedef FxI32 GrTextureCombineFnc_t;
typedef FxI32 GrTextureFormat_t;
typedef FxI32 GrLOD_t;
typedef FxI32 GrAspectRatio_t;
typedef FxI32 GrMipMapMode_t;
typedef FxI32 GrTextureClampMode_t;
typedef FxI32 GrTextureFilterMode_t;
typedef FxI32 GrSstType;

// ---------------------------------------------------------------------------------------------
// Constants.

#define GR_RESOLUTION_640x480 0x7
#define GR_REFRESH_60Hz 0x0
#define GR_COLORFORMAT_ARGB 0x0
#define GR_COLORFORMAT_ABGR 0x1
#define GR_ORIGIN_UPPER_LEFT 0x0
#define GR_ORIGIN_LOWER_LEFT 0x1

#define GR_TMU0 0x0
#define GR_MIPMAPLEVELMASK_EVEN 0x1
#define GR_MIPMAPLEVELMASK_ODD 0x2
#define GR_MIPMAPLEVELMASK_BOTH 0x3
#define GR_MIPMAP_DISABLE 0x0
#define GR_MIPMAP_NEAREST 0x1
#define GR_TEXTURECLAMP_WRAP 0x0
#define GR_TEXTURECLAMP_CLAMP 0x1
#define GR_TEXTUREFILTER_POINT_SAMPLED 0x0
#define GR_TEXTUREFILTER_BILINEAR 0x1
#define GR_NULL_MIPMAP_HANDLE ((GrMipMapId_t)-1)

#define GR_TEXTURECOMBINE_ZERO 0x0
#define GR_TEXTURECOMBINE_DECAL 0x1
#define GR_TEXTURECOMBINE_OTHER 0x2
#define GR_TEXTURECOMBINE_ADD 0x3

#define GR_COLORCOMBINE_ZERO 0x0
#define GR_COLORCOMBINE_CCRGB 0x1
#define GR_COLORCOMBINE_ITRGB 0x2
#define GR_COLORCOMBINE_TEXTURE_TIMES_ITRGB 0x6

#define GR_COMBINE_FUNCTION_ZERO 0x0
#define GR_COMBINE_FUNCTION_LOCAL 0x1
#define GR_COMBINE_FUNCTION_LOCAL_ALPHA 0x2
#define GR_COMBINE_FUNCTION_SCALE_OTHER 0x3
#define GR_COMBINE_FACTOR_ZERO 0x0
#define GR_COMBINE_FACTOR_ONE 0x8
#define GR_COMBINE_LOCAL_ITERATED 0x0
#define GR_COMBINE_LOCAL_CONSTANT 0x1
#define GR_COMBINE_OTHER_ITERATED 0x0
#define GR_COMBINE_OTHER_TEXTURE 0x1
#define GR_COMBINE_OTHER_CONSTANT 0x2

#define GR_BLEND_ZERO 0x0
#define GR_BLEND_SRC_ALPHA 0x1
#define GR_BLEND_ONE 0x4
#define GR_BLEND_ONE_MINUS_SRC_ALPHA 0x5

#define GR_ALPHASOURCE_CC_ALPHA 0x0
#define GR_ALPHASOURCE_ITERATED_ALPHA 0x1

// Levels of detail: 256 texels on the longer side is level 0, 1 texel is level 8.
#define GR_LOD_256 0x0
#define GR_LOD_128 0x1
#define GR_LOD_64 0x2
#define GR_LOD_32 0x3
#define GR_LOD_16 0x4
#define GR_LOD_8 0x5
#define GR_LOD_4 0x6
#define GR_LOD_2 0x7
#define GR_LOD_1 0x8

#define GR_ASPECT_8x1 0x0
#define GR_ASPECT_4x1 0x1
#define GR_ASPECT_2x1 0x2
#define GR_ASPECT_1x1 0x3
#define GR_ASPECT_1x2 0x4
#define GR_ASPECT_1x4 0x5
#define GR_ASPECT_1x8 0x6

#define GR_TEXFMT_RGB_332 0x0
#define GR_TEXFMT_YIQ_422 0x1
#define GR_TEXFMT_ALPHA_8 0x2
#define GR_TEXFMT_INTENSITY_8 0x3
#define GR_TEXFMT_ALPHA_INTENSITY_44 0x4
#define GR_TEXFMT_P_8 0x5
#define GR_TEXFMT_ARGB_8332 0x8
#define GR_TEXFMT_AYIQ_8422 0x9
#define GR_TEXFMT_RGB_565 0xa
#define GR_TEXFMT_ARGB_1555 0xb
#define GR_TEXFMT_ARGB_4444 0xc
#define GR_TEXFMT_ALPHA_INTENSITY_88 0xd
#define GR_TEXFMT_AP_88 0xe

// ---------------------------------------------------------------------------------------------
// Records.

typedef struct {
  float sow; // s / w
  float tow; // t / w
  float oow; // 1 / w of this texture unit
} GrTmuVertex;

// 15 floats, 60 bytes, in the library's order. Colours and alpha are on the 0..255 scale.
typedef struct {
  float x, y, z;
  float r, g, b;
  float ooz;
  float a;
  float oow;
  GrTmuVertex tmuvtx[2];
} GrVertex;
static_assert(sizeof(GrVertex) == 60, "GrVertex must be 15 floats");

// The whole render state, saved and restored as one opaque block.
#define GLIDE_STATE_PAD_SIZE 312
typedef struct {
  alignas(8) char pad[GLIDE_STATE_PAD_SIZE];
} GrState;

#define MAX_NUM_SST 4
#define GR_SSTTYPE_VOODOO 0
typedef struct {
  GrSstType type;
  int fbRam;    // frame-buffer memory in MiB
  int nTexelfx; // texture units
  int tmuRam;   // texture memory per unit in MiB
} GrSstConfig;
typedef struct {
  int num_sst;
  GrSstConfig SSTs[MAX_NUM_SST];
} GrHwConfiguration;

typedef struct {
  FxU32 width, height;
  int small_lod, large_lod; // level codes: large_lod <= small_lod
  GrAspectRatio_t aspect_ratio;
  GrTextureFormat_t format;
} Gu3dfHeader;

typedef struct {
  FxU8 yRGB[16];
  FxI16 iRGB[4][3];
  FxI16 qRGB[4][3];
  FxU32 packed_data[12];
} GuNccTable;

typedef struct {
  FxU32 data[256]; // 0xAARRGGBB
} GuTexPalette;

typedef union {
  GuNccTable nccTable;
  GuTexPalette palette;
} GuTexTable;
static_assert(sizeof(GuTexTable) == 1024, "GuTexTable is 1024 bytes");

typedef struct {
  Gu3dfHeader header;
  GuTexTable table;
  void* data;         // texel data of all levels, largest first; allocated by the caller
  FxU32 mem_required; // bytes of texel data of all levels
} Gu3dfInfo;

// ---------------------------------------------------------------------------------------------
// Operations, declared from their one list in glide/operation_list.h.
//
// gu3dfGetInfo and gu3dfLoad read the file into memory and parse it with the reader of
// glide/tdf.h. When they fail, errno tells why, as the C library's file functions do: the
// system's error when the file could not be opened or read (ENOENT, EACCES, EMFILE, …), EINVAL
// when it is not a regular file or not a .3df texture that fits the block.

#define GLIDE_DECLARE_OPERATION(name, Result, function, Parameters) Result function Parameters;
GLIDE_OPERATIONS(GLIDE_DECLARE_OPERATION)
#undef GLIDE_DECLARE_OPERATION
