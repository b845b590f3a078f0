// Where the show's pictures go on an X screen: the monitors, chosen from what the server reports.
#pragma once

#include <span>
#include <vector>

#include "geometry.h"

namespace desktop {

// The monitors of a screen of `screenWidth` × `screenHeight`, from the two lists an X server
// may give: RandR's monitors and Xinerama's heads.
//
// - Where both are real they agree, since a modern server answers Xinerama from RandR. Where a
//   server joins several screens with Xinerama of its own (nested servers, older set-ups), RandR
//   sees only the first of them. So the longer list is taken, RandR's when they are as long.
// - Each monitor is clipped to the screen: a screen that shrank may still report a monitor of the
//   old size for a moment. Monitors left empty are dropped, and mirrored monitors (the same
//   rectangle twice) count once.
// - With no monitor left (a server that reports none, as Xvfb does once its screen was resized
//   below its output's mode), the whole screen is the one monitor.
std::vector<ScreenRect> ChooseMonitors(std::span<const ScreenRect> randr, std::span<const ScreenRect> xinerama,
                                       int screenWidth, int screenHeight);

} // namespace desktop
