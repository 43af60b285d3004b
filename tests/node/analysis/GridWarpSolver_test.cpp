// SPDX-License-Identifier: Apache-2.0
#include "analysis/GridWarpSolver.h"

#include <random>

#include <gtest/gtest.h>
#include <Eigen/QR>

#include "analysis/GridTriangle.h"

using namespace Korvane::Research;

namespace {

WarpConstraint constraint(double x, double y, double dx, double dy, double weight = 1.0) {
    WarpConstraint c;
    c.x = x, c.y = y, c.dx = dx, c.dy = dy, c.score = weight;
    return c;
}

Eigen::Vector2d vertexPixel(int v, int gx, int gy, double w, double h) {
    return {(v % gx) * w / (gx - 1), (v / gx) * h / (gy - 1)};
}

TEST(GridTriangle, WeightsReproduceThePointInsideTheImageAndNothingOutside) {
    const int gx = 5, gy = 4;
    const double w = 1280, h = 960;
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> ux(0, w), uy(0, h);
    for (int n = 0; n < 200; ++n) {
        const Eigen::Vector2d p(ux(rng), uy(rng));
        const auto t = GridTriangle::locate(gx, gy, w, h, p);
        ASSERT_TRUE(t) << p.transpose();
        Eigen::Vector2d back = Eigen::Vector2d::Zero();
        double sum = 0;
        for (int m = 0; m < 3; ++m) {
            EXPECT_GE(t->weight[m], -1e-12) << p.transpose();
            back += t->weight[m] * vertexPixel(t->vertex[m], gx, gy, w, h);
            sum += t->weight[m];
        }
        EXPECT_NEAR(sum, 1.0, 1e-12);
        EXPECT_LT((back - p).norm(), 1e-9) << p.transpose();
    }
    struct Edge {
        Eigen::Vector2d p;
        bool inside;
        int vertex;  ///< the vertex with weight 1, -1 when not on a vertex
    };
    const Edge edges[] = {
        {{0, 0}, true, 0},
        {{w, h}, true, gx * gy - 1},
        {{w, 0}, true, gx - 1},
        {{w, h / 3 * 2}, true, -1},  // on the last column: the last cell is used
        {{std::nextafter(w, 2 * w), 10}, false, -1},
        {{-1e-9, 10}, false, -1},
        {{10, std::nextafter(h, 2 * h)}, false, -1},
        {{std::nan(""), 10}, false, -1},
    };
    for (const Edge& e : edges) {
        const auto t = GridTriangle::locate(gx, gy, w, h, e.p);
        ASSERT_EQ(bool(t), e.inside) << e.p.transpose();
        if (!t || e.vertex < 0) continue;
        for (int m = 0; m < 3; ++m)
            if (t->vertex[m] == e.vertex) {
                EXPECT_DOUBLE_EQ(t->weight[m], 1.0) << e.p.transpose();
            }
    }
    EXPECT_FALSE(GridTriangle::locate(1, 4, w, h, {0, 0})) << "a side below 2";
}

TEST(GridWarpSolver, ConstraintsThatAgreeGiveTheirDisplacementEverywhere) {
    // One displacement asked at scattered points: the constant field meets every row exactly,
    // and smoothness leaves no other freedom.
    GridWarpSolver solver({10}, 4, 3, 300, 200);
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> ux(0, 300), uy(0, 200);
    for (int n = 0; n < 5; ++n)
        solver.addWarpConstraint(10, constraint(ux(rng), uy(rng), 3, -2, 2));
    solver.addSmoothness(10, 0.5);
    ASSERT_TRUE(solver.solve(10));
    for (const auto& p : solver.grid().points) EXPECT_LT((p - Eigen::Vector2d(3, -2)).norm(), 1e-4);
    EXPECT_NE(solver.lastSummary().stop, LsqrStop::IterationLimit);

    solver.resetRows();
    EXPECT_EQ(solver.rowCount(), 0);
    for (const auto& p : solver.grid().points) EXPECT_EQ(p, Eigen::Vector2d::Zero());
    solver.addSmoothness(10, 0.5);
    ASSERT_TRUE(solver.solve(10)) << "smoothness alone is a homogeneous system";
    for (const auto& p : solver.grid().points) EXPECT_EQ(p, Eigen::Vector2d::Zero());
}

TEST(GridWarpSolver, MatchesADenseSolveOfItsEnergy) {
    // The energy written out per axis over the vertex-key unknowns (key k, vertex v at
    // k gx gy + v), solved densely; the solver must give the same grid at every key. A
    // consistency weight below 0.01 adds nothing.
    const int gx = 4, gy = 3, V = gx * gy;
    const std::set<int> window{5, 9, 12};
    const double w = 400, h = 300, s = 0.7;
    std::mt19937 rng(21);
    std::uniform_real_distribution<double> ux(0, w), uy(0, h), ud(-6, 6), uw(0.5, 3);
    std::vector<std::pair<int, WarpConstraint>> constraints;
    for (int n = 0; n < 25; ++n)
        constraints.emplace_back(n % 3, constraint(ux(rng), uy(rng), ud(rng), ud(rng), uw(rng)));

    for (const double gamma : {1.3, 0.009}) {
        const double tie = gamma >= 0.01 ? gamma : 0.0;
        const int K = 3, columns = K * V;
        std::vector<Eigen::RowVectorXd> rows;
        std::vector<Eigen::Vector2d> rhs;
        for (const auto& [k, c] : constraints) {
            const auto t = GridTriangle::locate(gx, gy, w, h, {c.x, c.y});
            Eigen::RowVectorXd row = Eigen::RowVectorXd::Zero(columns);
            for (int m = 0; m < 3; ++m) row[k * V + t->vertex[m]] += c.weight() * t->weight[m];
            rows.push_back(row);
            rhs.push_back(c.weight() * Eigen::Vector2d(c.dx, c.dy));
        }
        for (int k = 0; k < K; ++k)
            for (int v = 0; v < V; ++v) {
                Eigen::RowVectorXd smooth = Eigen::RowVectorXd::Zero(columns);
                const int i = v % gx, j = v / gx;
                for (const auto& [di, dj] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}})
                    if (i + di >= 0 && i + di < gx && j + dj >= 0 && j + dj < gy) {
                        smooth[k * V + v] -= s;
                        smooth[k * V + (j + dj) * gx + i + di] += s;
                    }
                Eigen::RowVectorXd consistent = Eigen::RowVectorXd::Zero(columns);
                for (int l = 0; l < K; ++l)
                    if (l != k) {
                        consistent[k * V + v] -= tie;
                        consistent[l * V + v] += tie;
                    }
                rows.push_back(smooth);
                rows.push_back(consistent);
                rhs.push_back(Eigen::Vector2d::Zero());
                rhs.push_back(Eigen::Vector2d::Zero());
            }
        Eigen::MatrixXd A(rows.size(), columns);
        Eigen::MatrixXd b(rows.size(), 2);
        for (size_t r = 0; r < rows.size(); ++r) A.row(r) = rows[r], b.row(r) = rhs[r].transpose();
        const Eigen::MatrixXd reference = A.completeOrthogonalDecomposition().solve(b);

        LsqrOptions tight;
        tight.atol = tight.btol = 1e-12;
        GridWarpSolver solver(window, gx, gy, int(w), int(h), tight);
        const std::vector<int> frames(window.begin(), window.end());
        for (int k = 0; k < K; ++k) {
            for (const auto& [key, c] : constraints)
                if (key == k) solver.addWarpConstraint(frames[k], c);
            solver.addWarpConstraint(99, constraint(10, 10, 50, 50));  // not in the window
            solver.addSmoothness(frames[k], s);
            solver.addConsistency(frames[k], gamma);
        }
        for (int k = 0; k < K; ++k) {
            ASSERT_TRUE(solver.solve(frames[k]));
            for (int v = 0; v < V; ++v)
                EXPECT_LT((solver.grid().points[v] - reference.row(k * V + v).transpose()).norm(),
                          1e-7)
                    << "gamma " << gamma << " key " << frames[k] << " vertex " << v;
        }
    }
}

TEST(GridWarpSolver, FailsWithTooFewRowsOrAFrameOutsideTheWindow) {
    // 3 x 3 grid, one key: N = 18 unknowns, so a solve needs 3 floor(18 / 4) = 12 rows.
    auto solverWith = [](int constraints) {
        GridWarpSolver solver({10}, 3, 3, 100, 100);
        for (int n = 0; n < constraints; ++n)
            solver.addWarpConstraint(10, constraint(10 + 15 * n, 20, 1, 1));
        return solver;
    };
    GridWarpSolver five = solverWith(5);
    EXPECT_EQ(five.rowCount(), 10);
    EXPECT_FALSE(five.solve(10));
    GridWarpSolver six = solverWith(6);
    EXPECT_EQ(six.rowCount(), 12);
    EXPECT_TRUE(six.solve(10));
    EXPECT_FALSE(six.solve(11)) << "not a key of the window";

    GridWarpSolver empty({10}, 3, 3, 100, 100);
    empty.addSmoothness(10, 0.009);
    empty.addConsistency(10, 5.0);  // one key: nothing to be consistent with
    empty.addWarpConstraint(10, constraint(101, 50, 1, 1));  // right of the image
    EXPECT_EQ(empty.rowCount(), 0);
    EXPECT_FALSE(empty.solve(10));

    GridWarpSolver tiny({10}, 1, 5, 100, 100);
    tiny.addSmoothness(10, 1.0);
    EXPECT_FALSE(tiny.solve(10)) << "a grid side below 2 has no cells";
}

}  // namespace
