// The show's drawing: the display session, the flare texture and the sprite renderers of the fireworks.
#pragma once

#include "glide/glide.h"
#include "sim/sim.h"

namespace render {

// ---------------------------------------------------------------------------------------------
// Display session. Each failure prints its one line on standard error, shuts the graphics
// library down and ends the process with status -1.

// Opens the 640×480 display; returns only when it is open.
void OpenDisplay();
// The state the show starts from and returns to between fireworks: untextured iterated colour,
// iterated alpha, alpha blending.
void SetBaseRenderState();
// Shuts the graphics library down; harmless when nothing is open.
void CloseDisplay();

// ---------------------------------------------------------------------------------------------
// Flare texture: the one sprite texture of the show, with its texture-memory handle.

struct FlareTexture {
  GrMipMapId_t mipmapId;
  Gu3dfInfo info;
};

// The texture every renderer draws with; loaded once per show. The saver keeps it until the
// process ends; a process that runs many shows gives it back with ReleaseFlareTexture.
extern FlareTexture* flareTexture;

// Reads the .3df file at `path` (relative names are looked up in the working directory) and
// places it in texture memory. Returns only on success; any failure prints its message with
// the path, shuts the graphics library down and ends the process with status -1.
FlareTexture* LoadFlareTexture(const char* path);

// Frees `flareTexture`'s texel data and record, if there is one, and sets it to null.
void ReleaseFlareTexture();

// ---------------------------------------------------------------------------------------------
// Sprites: screen-aligned squares of the flare, tinted with one colour and added onto the frame.

void DrawSprite(float x, float y, float size, float red, float green, float blue, float alpha);
void SetSpriteState(const FlareTexture& texture);
void SaveRenderState();
void RestoreRenderState();

// The draw hooks of the fireworks: the head, the trail or the burst, as the kind requires.
void DrawHeadOrBurst(const sim::FireworkSlot& slot);
void DrawHeadTrailOrBurst(const sim::FireworkSlot& slot);
void DrawTrailOrBurst(const sim::FireworkSlot& slot);

// The renderers, in the shape the simulation's kind table takes them.
inline constexpr sim::RendererHooks Renderers = {DrawHeadOrBurst, DrawHeadTrailOrBurst, DrawTrailOrBurst};

} // namespace render
