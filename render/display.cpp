// The display session: opening the 640×480 display, the base render state, closing.
#include "render/render.h"

#include "platform/platform.h"

namespace render {
namespace {

// Filled by the hardware query and never read.
GrHwConfiguration hwConfig;

} // namespace

void OpenDisplay() {
  grGlideInit();
  if (!grSstQueryHardware(&hwConfig)) {
    platform::Fail(grGlideShutdown, "main: grSstQueryHardware failed!\n");
  }
  grSstSelect(0);
  if (!grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ABGR, GR_ORIGIN_LOWER_LEFT, 1, 2)) {
    platform::Fail(grGlideShutdown, "main: grSstOpen failed!\n");
  }
  grClipWindow(0, 0, 639, 479);
}

void SetBaseRenderState() {
  guColorCombineFunction(GR_COLORCOMBINE_ITRGB);
  grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
                 GR_COMBINE_OTHER_CONSTANT, FXFALSE);
  grAlphaCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_CONSTANT,
                 GR_COMBINE_OTHER_ITERATED, FXFALSE);
  grAlphaBlendFunction(GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ZERO, GR_BLEND_ZERO);
}

void CloseDisplay() { grGlideShutdown(); }

} // namespace render
