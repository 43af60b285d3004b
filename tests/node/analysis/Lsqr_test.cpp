// SPDX-License-Identifier: Apache-2.0
#include "analysis/Lsqr.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <Eigen/QR>

using namespace Korvane::Research;

namespace {

struct RandomSystem {
    std::string name;
    int rows, cols, rank;
    bool compatible;  ///< b in the range of A
};

std::ostream& operator<<(std::ostream& os, const RandomSystem& s) { return os << s.name; }

/// A sparse-ish random matrix of the given rank: a product of two random factors, with about
/// half of the entries of the left factor dropped.
Eigen::MatrixXd randomMatrix(const RandomSystem& s, std::mt19937& rng) {
    std::normal_distribution<double> normal;
    std::bernoulli_distribution keep(0.5);
    Eigen::MatrixXd left(s.rows, s.rank), right(s.rank, s.cols);
    for (int i = 0; i < left.size(); ++i) left.data()[i] = keep(rng) ? normal(rng) : 0.0;
    for (int i = 0; i < right.size(); ++i) right.data()[i] = normal(rng);
    return left * right;
}

class LsqrRandom : public ::testing::TestWithParam<RandomSystem> {};

TEST_P(LsqrRandom, ReachesTheMinimumNormLeastSquaresSolution) {
    const RandomSystem& s = GetParam();
    std::mt19937 rng(11);
    std::normal_distribution<double> normal;
    for (int trial = 0; trial < 3; ++trial) {
        const Eigen::MatrixXd dense = randomMatrix(s, rng);
        Eigen::VectorXd b(s.rows);
        for (int i = 0; i < s.rows; ++i) b[i] = normal(rng);
        if (s.compatible) b = dense * (dense.transpose() * b);
        const Eigen::VectorXd reference = dense.completeOrthogonalDecomposition().solve(b);

        const LsqrMatrix A = dense.sparseView();
        Eigen::VectorXd x = Eigen::VectorXd::Constant(s.cols, 7.0);  // must be ignored
        LsqrOptions tight;
        tight.atol = tight.btol = 1e-12;
        const LsqrSummary summary = lsqr(A, b, x, tight);
        EXPECT_LT((x - reference).norm(), 1e-7 * (1.0 + reference.norm()))
            << s << " trial " << trial << " stop " << int(summary.stop) << " after "
            << summary.iterations;
        EXPECT_NE(summary.stop, LsqrStop::IterationLimit) << s;
        EXPECT_NEAR(summary.residualNorm, (b - dense * x).norm(), 1e-6 * (1.0 + b.norm())) << s;

        // The default tolerances give about six digits of the same answer, well inside the
        // iteration limit of 4 n.
        const LsqrSummary quick = lsqr(A, b, x);
        EXPECT_LT((x - reference).norm(), 1e-3 * reference.norm()) << s << " trial " << trial;
        EXPECT_LT(quick.iterations, 4 * s.cols) << s;
        const LsqrStop expected = s.compatible ? LsqrStop::Compatible : LsqrStop::LeastSquares;
        EXPECT_EQ(quick.stop, expected) << s << " trial " << trial;
    }
}

INSTANTIATE_TEST_SUITE_P(Systems,
                         LsqrRandom,
                         ::testing::Values(RandomSystem{"Overdetermined", 60, 25, 25, false},
                                           RandomSystem{"Square", 30, 30, 30, true},
                                           RandomSystem{"Underdetermined", 20, 45, 20, true},
                                           RandomSystem{"RankDeficientTall", 50, 30, 12, false},
                                           RandomSystem{
                                               "RankDeficientCompatible", 40, 40, 15, true}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
