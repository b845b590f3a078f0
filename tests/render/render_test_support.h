// Shared fixture of the render tests: the display opened as the show opens it, with a texture
// loaded as the show loads its flare.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "glide/board.h"
#include "glide/glide.h"
#include "glide/inspection.h"
#include "render/render.h"
#include "support/files.h"

namespace rendertest {

class ShowDisplayTest : public ::testing::Test {
protected:
  // Opens the display, sets the base state, loads the texture and clears the frame to black.
  void Open(const std::string& texturePath) {
    render::OpenDisplay();
    render::SetBaseRenderState();
    render::flareTexture = render::LoadFlareTexture(texturePath.c_str());
    grBufferClear(0, 0, 0xFFFF);
  }
  void TearDown() override {
    glide::SetOperationObserver(nullptr, nullptr);
    render::CloseDisplay();
    render::ReleaseFlareTexture();
  }
  // Whether the pixel at (x, y), counted from the lower left as the show counts, is lit.
  static bool Lit(int x, int y) { return glide::CurrentFrame().Pixel(x, glide::ScreenHeight - 1 - y) != 0; }
  // Where the tests write their textures.
  support::TemporaryDirectory directory_;
};

} // namespace rendertest
