// SPDX-License-Identifier: Apache-2.0
#include "analysis/Lsqr.h"

#include <cassert>
#include <cmath>

namespace Korvane {
namespace Research {

namespace {

class SparseOperator : public LsqrOperator {
public:
    explicit SparseOperator(const LsqrMatrix& A) : m_A(A) {}
    Eigen::Index rows() const override { return m_A.rows(); }
    Eigen::Index cols() const override { return m_A.cols(); }
    void multiplyAdd(const Eigen::VectorXd& x, Eigen::VectorXd& y) const override {
        y.noalias() += m_A * x;
    }
    void transposeMultiplyAdd(const Eigen::VectorXd& y, Eigen::VectorXd& x) const override {
        x.noalias() += m_A.transpose() * y;
    }

private:
    const LsqrMatrix& m_A;
};

}  // namespace

LsqrSummary lsqr(const LsqrMatrix& A,
                 const Eigen::VectorXd& b,
                 Eigen::VectorXd& x,
                 const LsqrOptions& options) {
    return lsqr(SparseOperator(A), b, x, options);
}

// The recurrences are those of Paige and Saunders (1982), algorithm LSQR with damp = 0, and
// the norm and condition estimates of their section 5; the variable names follow the paper.
LsqrSummary lsqr(const LsqrOperator& A,
                 const Eigen::VectorXd& b,
                 Eigen::VectorXd& x,
                 const LsqrOptions& options) {
    assert(b.size() == A.rows());
    const Eigen::Index n = A.cols();
    x.setZero(n);
    LsqrSummary summary;
    const int maxIterations = options.maxIterations > 0 ? options.maxIterations : int(4 * n);
    const double ctol = options.conlim > 0.0 ? 1.0 / options.conlim : 0.0;

    // Golub-Kahan bidiagonalisation: beta u = b, alpha v = A'u.
    Eigen::VectorXd u = b;
    double beta = u.norm();
    Eigen::VectorXd v(n);
    double alpha = 0.0;
    if (beta > 0.0) {
        u /= beta;
        v.setZero();
        A.transposeMultiplyAdd(u, v);
        alpha = v.norm();
    } else {
        v.setZero();
    }
    if (alpha > 0.0) v /= alpha;
    summary.residualNorm = beta;
    summary.normalResidualNorm = alpha * beta;
    if (alpha * beta == 0.0) return summary;  // x = 0 solves it

    Eigen::VectorXd w = v;
    double phibar = beta, rhobar = alpha;
    const double bnorm = beta;
    double anorm = 0.0, acond = 0.0, ddnorm = 0.0, xnorm = 0.0, xxnorm = 0.0, z = 0.0;
    double cs2 = -1.0, sn2 = 0.0;
    double rnorm = beta, arnorm = alpha * beta;

    for (int itn = 1;; ++itn) {
        u *= -alpha;
        A.multiplyAdd(v, u);
        beta = u.norm();
        if (beta > 0.0) {
            u /= beta;
            anorm = std::sqrt(anorm * anorm + alpha * alpha + beta * beta);
            v *= -beta;
            A.transposeMultiplyAdd(u, v);
            alpha = v.norm();
            if (alpha > 0.0) v /= alpha;
        }

        // Plane rotation that eliminates beta from the lower bidiagonal.
        const double rho = std::hypot(rhobar, beta);
        const double cs = rhobar / rho;
        const double sn = beta / rho;
        const double theta = sn * alpha;
        rhobar = -cs * alpha;
        const double phi = cs * phibar;
        phibar = sn * phibar;
        const double tau = sn * phi;

        // Update x and w; dk = w / rho feeds the condition estimate.
        const double t1 = phi / rho;
        const double t2 = -theta / rho;
        ddnorm += w.squaredNorm() / (rho * rho);
        x += t1 * w;
        w = v + t2 * w;

        // |x| from the second rotation (section 5.2), without forming x's norm directly.
        const double delta = sn2 * rho;
        const double gambar = -cs2 * rho;
        const double rhs = phi - delta * z;
        const double zbar = rhs / gambar;
        xnorm = std::sqrt(xxnorm + zbar * zbar);
        const double gamma = std::hypot(gambar, theta);
        cs2 = gambar / gamma;
        sn2 = theta / gamma;
        z = rhs / gamma;
        xxnorm += z * z;

        acond = anorm * std::sqrt(ddnorm);
        rnorm = phibar;
        arnorm = alpha * std::abs(tau);

        const double test1 = rnorm / bnorm;
        const double test2 = rnorm > 0.0 ? arnorm / (anorm * rnorm) : 0.0;
        const double test3 = 1.0 / acond;
        const double t1s = test1 / (1.0 + anorm * xnorm / bnorm);
        const double rtol = options.btol + options.atol * anorm * xnorm / bnorm;

        // Later tests take precedence, as in the classic code.
        LsqrStop stop = LsqrStop::ZeroSolution;
        bool done = false;
        auto set = [&](LsqrStop s) { stop = s, done = true; };
        if (itn >= maxIterations) set(LsqrStop::IterationLimit);
        if (1.0 + test3 <= 1.0) set(LsqrStop::ConditionLimitEps);
        if (1.0 + test2 <= 1.0) set(LsqrStop::LeastSquaresEps);
        if (1.0 + t1s <= 1.0) set(LsqrStop::CompatibleEps);
        if (test3 <= ctol) set(LsqrStop::ConditionLimit);
        if (test2 <= options.atol) set(LsqrStop::LeastSquares);
        if (test1 <= rtol) set(LsqrStop::Compatible);
        if (done) {
            summary.stop = stop;
            summary.iterations = itn;
            break;
        }
    }
    summary.residualNorm = rnorm;
    summary.normalResidualNorm = arnorm;
    summary.anorm = anorm;
    summary.acond = acond;
    summary.xnorm = xnorm;
    return summary;
}

}  // namespace Research
}  // namespace Korvane
