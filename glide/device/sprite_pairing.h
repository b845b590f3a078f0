// Sprite pairing: the two halves of an axis-aligned sprite square, drawn as one box.
#pragma once

#include "device/grid_vertex.h"
#include "device/prepared_triangle.h"

namespace glide {

// Notes what a sprite half with a right angle is compared on: its colour, 1/w, the legs of its
// right angle and the changes of s and t along them.
void NoteSquareHalf(const GridVertex (&vertices)[3], PreparedTriangle& triangle);

// Whether a triangle, prepared as far as its coverage, is the second half of the sprite square
// whose first half is held back. Two axis-aligned right triangles with their right angles at
// opposite corners make up their common box exactly. With the same first vertex, colour and 1/w,
// and legs of the same length with the same changes of s and t along them (or both negated,
// which a division by the leg undoes exactly), the second would be prepared into the first's
// texel coordinates and level (the state cannot have changed in between): the box is then drawn
// as one, without preparing the second half.
bool CompletesSquare(const PreparedTriangle& first, const GridVertex (&vertices)[3], const PreparedTriangle& second);

// The pixels of the square that a held-back half and the half that completes it make up.
struct PixelBox {
  int columnBegin;
  int columnEnd;
  int rowBegin;
  int rowEnd;
};
PixelBox SquarePixels(const PreparedTriangle& half);

} // namespace glide
