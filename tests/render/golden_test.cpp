// Numbered golden images of the show's sprites, drawn on the show's display with the flare texture
// the build makes. A frame that differs is written next to the test for a look;
// PYROVANE_UPDATE_GOLDEN=1 rewrites the goldens.
#include <cmath>
#include <functional>
#include <string>

#include "render_test_support.h"
#include "support/golden.h"

namespace {

using namespace render;

struct Golden {
  std::string name; // the file under tests/render/golden, numbered
  std::function<void()> draw;
};

class GoldenTest : public rendertest::ShowDisplayTest, public ::testing::WithParamInterface<Golden> {};

TEST_P(GoldenTest, MatchesTheGoldenImage) {
  Open(PYROVANE_FLARE_PATH);
  SetSpriteState(*flareTexture);
  GetParam().draw();
  support::ExpectMatchesGolden(support::FrameImage(glide::CurrentFrame()),
                               std::string(PYROVANE_GOLDEN_DIR) + "/" + GetParam().name);
}

// A burst as the show draws it: 150 particles on a ring, one size, colours fading outwards.
void Burst(float x, float y, float radius, float size, float red, float green, float blue) {
  for (int i = 0; i < 150; ++i) {
    const float angle = static_cast<float>(i) * 2.399963f; // the golden angle spreads them evenly
    const float distance = radius * std::sqrt(static_cast<float>(i) / 150.0f);
    const float fade = 1.0f - 0.5f * static_cast<float>(i) / 150.0f;
    DrawSprite(x + distance * std::cos(angle), y + distance * std::sin(angle), size, red * fade, green * fade,
               blue * fade, 255);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, GoldenTest,
    ::testing::Values(Golden{"01-one-sprite.png", [] { DrawSprite(320.3f, 240.6f, 64, 255, 170, 60, 255); }},
                      Golden{
                          "02-overlapping-sprites.png",
                          [] {
                            // Sizes the show uses, overlapping until they saturate.
                            const float sizes[] = {3, 10, 18.5f, 10, 3, 18.5f};
                            const float colours[][3] = {{255, 60, 40}, {60, 255, 80}, {70, 110, 255}, {255, 230, 90}};
                            for (int i = 0; i < 24; ++i) {
                              const float* colour = colours[i % 4];
                              DrawSprite(260.0f + 5.3f * static_cast<float>(i),
                                         200.0f + 3.1f * static_cast<float>(i % 9), sizes[i % 6], colour[0], colour[1],
                                         colour[2], 255);
                            }
                          }},
                      Golden{"03-bursts-at-the-edges.png",
                             [] {
                               Burst(320, 240, 90, 18.5f, 255, 120, 40);
                               Burst(20, 30, 60, 10, 90, 160, 255);    // cut by the left and bottom edges
                               Burst(630, 470, 60, 10, 150, 255, 120); // cut by the window's last column and row
                             }}),
    [](const ::testing::TestParamInfo<Golden>& info) {
      std::string name = info.param.name.substr(0, info.param.name.size() - 4);
      for (char& c : name) c = c == '-' ? '_' : c;
      return "Golden" + name;
    });

} // namespace
