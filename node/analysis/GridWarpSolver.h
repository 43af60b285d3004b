// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <set>
#include <vector>

#include <Eigen/Core>

#include "analysis/Grid2D.h"
#include "analysis/Lsqr.h"
#include "constraints/WarpConstraint.h"

namespace Korvane {
namespace Research {

/// The sparse least-squares system of one camera's warp grids over a window of analysis keys,
/// and its solve.
///
/// The window is an ordered set of K key frames; a frame's key index is its position in it.
/// Each key has U = 2 gx gy unknowns, N = U K in all: the x displacement of vertex
/// v = gx j + i at key k is unknown k U + 2 v, its y displacement k U + 2 v + 1 (input pixels;
/// grid space as in GridTriangle). Rows are equations (column, coefficient) = right-hand side;
/// the energy minimised is
///   sum over constraints  w^2 |D(p) - e|^2                     (D triangle-interpolated)
/// + s^2 sum over vertices |sum over 4-neighbours (D_u - D_v)|^2  per smoothed key
/// + g^2 sum over vertices |sum over other keys (D_l - D_k)|^2    per consistent key.
///
/// Rows from frames outside the window are ignored. One solver serves one camera at a time:
/// add its rows, solve, read grid(), then resetRows() for the next camera. Single-threaded.
class GridWarpSolver : public WarpConstraintSink {
public:
    /// `width` and `height` are the input image size W x H in pixels; `lsqr` sets the solve's
    /// stopping rules.
    GridWarpSolver(std::set<int> window,
                   int gx,
                   int gy,
                   int width,
                   int height,
                   const LsqrOptions& lsqr = LsqrOptions());

    /// Two rows (x and y) that pull the interpolated displacement at the constraint's target
    /// towards its displacement, weighted by its weight. Dropped when the target lies outside
    /// the grid (x outside [0, W] or y outside [0, H]).
    void addWarpConstraint(int frame, const WarpConstraint& constraint) override;
    /// Uniform-Laplacian rows for every vertex of `frame`'s key, scaled by s; nothing when
    /// s < 0.01.
    void addSmoothness(int frame, double s);
    /// Rows tying every vertex of `frame`'s key to the same vertex at every other key of the
    /// window, scaled by gamma; nothing when gamma < 0.01 or the window has one key.
    void addConsistency(int frame, double gamma);

    /// Solves the system by LSQR from x = 0 and writes `frame`'s block into grid(). False, with
    /// grid() untouched, when there are no rows or unknowns, fewer rows than 3 floor(N / 4),
    /// `frame` is not in the window, a grid side is below 2, or the solution is not finite.
    bool solve(int frame);
    /// The last solved grid; all zeros after construction and resetRows().
    const Grid2D& grid() const { return m_grid; }
    /// Drops every row and zeroes grid().
    void resetRows();

    int rowCount() const { return int(m_rhs.size()); }  ///< x and y rows
    int unknownCount() const { return m_unknowns; }
    /// How the last LSQR run of solve() ended.
    const LsqrSummary& lastSummary() const { return m_summary; }

private:
    int keyIndex(int frame) const;
    /// Adds `coefficient` on vertex `vertex` of key `key` to the open pair of rows.
    void addEntry(int key, int vertex, double coefficient);
    /// Closes the x row and the y row made of the entries added since the last pair.
    void endRows(double rhsX, double rhsY);

    std::vector<int> m_window;  ///< ascending
    int m_gx, m_gy;
    int m_width, m_height;
    int m_vertices;  ///< gx gy; U = 2 gx gy
    int m_unknowns;  ///< N
    // Every x row has a y row with the same coefficients on the y unknowns of the same
    // vertices, so rows are kept in pairs over vertex-key columns k gx gy + v (compressed:
    // pair r holds entries m_pairStart[r] .. m_pairStart[r + 1] - 1) with their two
    // right-hand sides interleaved in m_rhs. The matrix of the solve is this one with every
    // entry c replaced by the 2 x 2 block c I.
    std::vector<int> m_pairStart{0};
    std::vector<int> m_columns;
    std::vector<double> m_coefficients;
    std::vector<double> m_rhs;
    LsqrOptions m_options;
    Eigen::VectorXd m_solution;
    Grid2D m_grid;
    LsqrSummary m_summary;
};

}  // namespace Research
}  // namespace Korvane
