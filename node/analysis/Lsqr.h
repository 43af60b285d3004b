// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <Eigen/Core>
#include <Eigen/SparseCore>

namespace Korvane {
namespace Research {

/// Why LSQR stopped; the numbering follows the classic implementation's `istop`.
enum class LsqrStop {
    ZeroSolution = 0,       ///< b = 0 or A'b = 0: x = 0 is the exact answer
    Compatible = 1,         ///< |r| <= btol |b| + atol |A| |x|: A x = b solved
    LeastSquares = 2,       ///< |A'r| <= atol |A| |r|: a least-squares solution
    ConditionLimit = 3,     ///< the estimate of cond(A) passed conlim
    CompatibleEps = 4,      ///< as 1, at machine precision (atol, btol below eps)
    LeastSquaresEps = 5,    ///< as 2, at machine precision
    ConditionLimitEps = 6,  ///< as 3, cond(A) beyond 1 / eps
    IterationLimit = 7,     ///< maxIterations reached
};

/// Stopping rules of LSQR (Paige and Saunders, ACM TOMS 8(1), 1982, section 6). The values are
/// those of the classic implementation's usual call: atol = btol = 1e-6 asks for about six
/// correct digits in the residual, conlim = 1e8 stops a solve drifting into noise on a nearly
/// singular A. maxIterations 0 means 4 x (number of columns).
struct LsqrOptions {
    double atol = 1e-6;
    double btol = 1e-6;
    double conlim = 1e8;
    int maxIterations = 0;
};

struct LsqrSummary {
    LsqrStop stop = LsqrStop::ZeroSolution;
    int iterations = 0;
    double residualNorm = 0.0;        ///< |b - A x|
    double normalResidualNorm = 0.0;  ///< |A'(b - A x)|
    double anorm = 0.0;               ///< estimate of the Frobenius norm of A
    double acond = 0.0;               ///< estimate of the condition number of A
    double xnorm = 0.0;
};

using LsqrMatrix = Eigen::SparseMatrix<double, Eigen::RowMajor>;

/// The matrix A as LSQR sees it: its size and two accumulating products. Implementations may
/// exploit structure; the solve depends only on the products.
class LsqrOperator {
public:
    virtual ~LsqrOperator() = default;
    virtual Eigen::Index rows() const = 0;
    virtual Eigen::Index cols() const = 0;
    /// y += A x
    virtual void multiplyAdd(const Eigen::VectorXd& x, Eigen::VectorXd& y) const = 0;
    /// x += A' y
    virtual void transposeMultiplyAdd(const Eigen::VectorXd& y, Eigen::VectorXd& x) const = 0;
};

/// Minimises |A x - b| by LSQR without damping, starting from x = 0 (whatever `x` held is
/// overwritten; it is resized to A's column count). From x = 0 the iterates stay in the row
/// space of A, so on a rank-deficient A the solve tends to the minimum-norm least-squares
/// solution. Only products with A and A' are used. Precondition: b.size() == A.rows().
LsqrSummary lsqr(const LsqrOperator& A,
                 const Eigen::VectorXd& b,
                 Eigen::VectorXd& x,
                 const LsqrOptions& options = LsqrOptions());
/// The same on a sparse matrix.
LsqrSummary lsqr(const LsqrMatrix& A,
                 const Eigen::VectorXd& b,
                 Eigen::VectorXd& x,
                 const LsqrOptions& options = LsqrOptions());

}  // namespace Research
}  // namespace Korvane
