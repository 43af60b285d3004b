// SPDX-License-Identifier: Apache-2.0
// Grid densifying: a warp grid's vertex image into a dense vector image.
//
// Images: grid (2f, one pixel per vertex: pixel (box.x0 + i, box.y0 + j) holds the backward
// displacement of vertex (i, j)), dense (2f; the output). Scalars, all float: the frame width
// W and height H that the grid spans, in the dense image's pixels, and the scale sx, sy applied
// to each interpolated displacement (a proxy's scale: grids hold full-size input pixels).
//
// The grid is laid over the frame [0, W] x [0, H] as the warp solver lays it (GridTriangle):
// dense pixel centre q maps to g = (q.x (gx - 1) / W, q.y (gy - 1) / H), and D(q) is the
// barycentric interpolation in the solver's triangle of that cell (cells cut along the diagonal
// from (i0, j0) to (i0 + 1, j0 + 1)), so a warped image shows every match exactly where the
// solver put it. Outside the frame, D takes the value at the nearest point of the frame, as
// WarpInverse does. A grid with fewer than 2 vertices on a side is no warp: D = 0. The output
// is in displacement form; vector operation A with mode 1 turns it into positions.
#pragma once

#include "kiln/ParamName.h"

namespace Korvane {
namespace Research {
namespace Kernels {

constexpr const char* kDensifyGridId =
    "e218fb1eab6119045810533597ccaa9cefe51b587de6960e4a21b813ae6c0ad4";
constexpr const char* kDensifyGridParams =
    "oebded2b71d51252f 1\no935187350dbb8738 1\no56f36051813b6c01 1\no1a09dcf082d60f1e 1\n";
constexpr Kiln::Compute::ParamName kDensifyGridWidth = 0xebded2b71d51252f;   // float
constexpr Kiln::Compute::ParamName kDensifyGridHeight = 0x935187350dbb8738;  // float
constexpr Kiln::Compute::ParamName kDensifyGridScaleX = 0x56f36051813b6c01;  // float
constexpr Kiln::Compute::ParamName kDensifyGridScaleY = 0x1a09dcf082d60f1e;  // float

/// Registers the kernel's variants; later calls do nothing.
void registerDensifyGrid();

}  // namespace Kernels
}  // namespace Research
}  // namespace Korvane
