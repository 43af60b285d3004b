// SPDX-License-Identifier: Apache-2.0
// Grid densifying: a warp grid's vertex image into a dense vector image; and grid warping of
// positions, the same displacement applied straight to a position image.
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
//
// Grid warp of positions: images grid (2f, as above) and positions (2f; read and written in
// place). Every position p of the camera's frame becomes p + D(p), D interpolated as above
// at p itself (not at a pixel centre) and scaled the same way; kNoSample stays kNoSample.
// Scalars as above. This is "densify, convert to positions, then compose" (vector operation
// B) in one pass without the dense image, and exact where the composition interpolates the
// dense image bilinearly between its pixel centres.
#pragma once

#include <algorithm>

#include "kiln/Device.h"
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

constexpr const char* kGridWarpId =
    "3625382a0f86f6a1e348735254ac76a94515269a4e61a1cbfc747de1358362d8";
constexpr const char* kGridWarpParams =
    "o1cf83a537d39b30a 1\no1ef2340d233bca9d 1\no216635129c2562fd 1\no914f9153b5a38fb6 1\n";
constexpr Kiln::Compute::ParamName kGridWarpWidth = 0x1cf83a537d39b30a;   // float
constexpr Kiln::Compute::ParamName kGridWarpHeight = 0x1ef2340d233bca9d;  // float
constexpr Kiln::Compute::ParamName kGridWarpScaleX = 0x216635129c2562fd;  // float
constexpr Kiln::Compute::ParamName kGridWarpScaleY = 0x914f9153b5a38fb6;  // float

/// Registers both kernels' variants; later calls do nothing.
void registerDensifyGrid();

namespace detail {

/// A vertex image laid over the frame [0, width] x [0, height] as above: D at any point.
class GridDisplacement {
public:
    GridDisplacement(const Kiln::Compute::KernelImage& grid, double width, double height)
        : m_grid(grid),
          m_gx(grid.box.width()),
          m_gy(grid.box.height()),
          m_width(width),
          m_height(height),
          m_warp(m_gx >= 2 && m_gy >= 2 && width > 0.0 && height > 0.0) {}

    /// False for a grid that is no warp (D = 0 everywhere).
    bool warps() const { return m_warp; }

    /// The row of grid space holding frame ordinate y, clamped to the frame: its lower vertex
    /// row and the fraction above it. Multiplying before dividing keeps the frame's edge
    /// exactly on the last vertex.
    void row(double y, int* j0, double* fy) const {
        const double g = std::clamp(y, 0.0, m_height) * (m_gy - 1) / m_height;
        *j0 = std::min(int(g), m_gy - 2);
        *fy = g - *j0;
    }

    /// D at frame abscissa x on the row (j0, fy) of row(), scaled by (sx, sy), into d[0..1].
    void at(double x, int j0, double fy, float sx, float sy, float* d) const {
        const double g = std::clamp(x, 0.0, m_width) * (m_gx - 1) / m_width;
        const int i0 = std::min(int(g), m_gx - 2);
        const double fx = g - i0;
        const float* v00 = vertex(i0, j0);
        const float* v11 = vertex(i0 + 1, j0 + 1);
        double w00, w11, wc;
        const float* vc;
        if (fy > fx) {  // triangle (i0, j0), (i0 + 1, j0 + 1), (i0, j0 + 1)
            w00 = 1.0 - fy;
            w11 = fx;
            wc = fy - fx;
            vc = vertex(i0, j0 + 1);
        } else {  // triangle (i0, j0), (i0 + 1, j0), (i0 + 1, j0 + 1)
            w00 = 1.0 - fx;
            w11 = fy;
            wc = fx - fy;
            vc = vertex(i0 + 1, j0);
        }
        d[0] = sx * float(w00 * v00[0] + w11 * v11[0] + wc * vc[0]);
        d[1] = sy * float(w00 * v00[1] + w11 * v11[1] + wc * vc[1]);
    }

private:
    const float* vertex(int i, int j) const {
        return reinterpret_cast<const float*>(m_grid.origin + std::ptrdiff_t(j) * m_grid.rowBytes) +
               2 * i;
    }

    Kiln::Compute::KernelImage m_grid;
    int m_gx, m_gy;
    double m_width, m_height;
    bool m_warp;
};

}  // namespace detail

}  // namespace Kernels
}  // namespace Research
}  // namespace Korvane
