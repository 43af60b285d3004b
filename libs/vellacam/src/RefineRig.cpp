// SPDX-License-Identifier: Apache-2.0
#include "vellacam/RefineRig.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <sstream>

#include <ceres/ceres.h>
#include <ceres/rotation.h>
#include <Eigen/Geometry>

#include "MatchGeometry.h"
#include "RotationCorrection.h"
#include "vellacam/ProgressReporter.h"
#include "vellacam/SphericalTransform.h"
#include "vellacam/TriangulateFeatures.h"

namespace Korvane {
namespace Research {

namespace {

/// The solve's progress, a step per iteration, and its stop once the user cancels.
class IterationProgress : public ceres::IterationCallback {
public:
    IterationProgress(ProgressReporter* progress, int iterations)
        : m_progress(progress), m_iterations(std::max(1, iterations)) {}
    ceres::CallbackReturnType operator()(const ceres::IterationSummary& summary) override {
        m_progress->setProgressFraction(double(summary.iteration) / m_iterations);
        return m_progress->isInterrupted() ? ceres::SOLVER_ABORT : ceres::SOLVER_CONTINUE;
    }

private:
    ProgressReporter* m_progress;
    int m_iterations;
};

/// Where a point whose rays meet nowhere that every camera sees starts, metres from the rig.
constexpr double kFarStart = 100.0;

Eigen::Matrix3d fromAngleAxis(const double* w) {
    const Eigen::Vector3d v(w[0], w[1], w[2]);
    const double angle = v.norm();
    if (!(angle > 0.0)) return Eigen::Matrix3d::Identity();
    return Eigen::AngleAxisd(angle, v / angle).toRotationMatrix();
}

/// One observation: the image of the point in the camera turned by its correction Q, placed
/// at its position turned by the rig's turn G (camera-to-world Q R, centre G C). That camera
/// sees X where the uncorrected camera sees C + Q' (X - G C), so the camera's own projection
/// serves unchanged.
struct Reprojection {
    const SphericalTransform* camera;
    Eigen::Vector2d observed;
    double miss;  ///< residual of a point the camera cannot see

    bool operator()(const double* rotation,
                    const double* turn,
                    const double* point,
                    double* residual) const {
        const Eigen::Vector3d C = camera->getCamera().getPosition();
        const Eigen::Vector3d X(point[0], point[1], point[2]);
        const Eigen::Vector3d seen =
            C + fromAngleAxis(rotation).transpose() * (X - fromAngleAxis(turn) * C);
        Eigen::Vector2d image;
        if (!camera->ProjectFromWorld(seen, &image)) {
            residual[0] = residual[1] = miss;
            return true;
        }
        residual[0] = image.x() - observed.x();
        residual[1] = image.y() - observed.y();
        return true;
    }
};

/// The same with the camera's focal length scaled by 1 + lens[0] and its optical centre moved
/// by (lens[1], lens[2]) pixels.
struct LensReprojection {
    const SphericalTransform* camera;
    Eigen::Vector2d observed;
    double miss;

    bool operator()(const double* rotation,
                    const double* turn,
                    const double* point,
                    const double* lens,
                    double* residual) const {
        const SphericalTransform adjusted =
            camera->withLens(1.0 + lens[0], Eigen::Vector2d(lens[1], lens[2]));
        return Reprojection{&adjusted, observed, miss}(rotation, turn, point, residual);
    }
};

/// Turning every camera, every camera position and every point together changes no residual;
/// this holds the mean of the cameras' corrections (angle-axis vectors, radians) at none,
/// `weight` pixels of residual per radian. Each correction is then that camera's own error
/// about the rig's mean orientation, and the turn the matches' parallax asks of the rig as a
/// whole goes to the positions.
class MeanCorrectionGauge : public ceres::CostFunction {
public:
    MeanCorrectionGauge(int cameras, double weight) : m_cameras(cameras), m_weight(weight) {
        set_num_residuals(3);
        for (int c = 0; c < cameras; ++c) mutable_parameter_block_sizes()->push_back(3);
    }

    bool Evaluate(double const* const* parameters,
                  double* residuals,
                  double** jacobians) const override {
        const double scale = m_weight / m_cameras;
        for (int k = 0; k < 3; ++k) {
            residuals[k] = 0.0;
            for (int c = 0; c < m_cameras; ++c) residuals[k] += scale * parameters[c][k];
        }
        for (int c = 0; jacobians && c < m_cameras; ++c)
            if (jacobians[c])
                for (int k = 0; k < 9; ++k) jacobians[c][k] = k % 4 == 0 ? scale : 0.0;
        return true;
    }

private:
    int m_cameras;
    double m_weight;
};

/// A faint pull of the rig's turn toward none, for rigs whose positions the matches cannot
/// place (cameras at one point, or too close together for any parallax).
struct TurnPull {
    double weight;
    template <typename T>
    bool operator()(const T* turn, T* residual) const {
        for (int k = 0; k < 3; ++k) residual[k] = T(weight) * turn[k];
        return true;
    }
};

/// What a maker's calibration tells of a lens: its focal length near the recorded one (sigma
/// `focalSigma`, a fraction) and its optical centre near the recorded one (sigma `centreSigma`
/// pixels). One sigma off weighs as much as one match off by `weight` pixels.
struct LensPrior {
    double focalSigma;
    double centreSigma;
    double weight;
    template <typename T>
    bool operator()(const T* lens, T* residual) const {
        residual[0] = T(weight / focalSigma) * lens[0];
        residual[1] = T(weight / centreSigma) * lens[1];
        residual[2] = T(weight / centreSigma) * lens[2];
        return true;
    }
};

struct Observation {
    int camera;
    Eigen::Vector2d position;
};

double rms(const std::vector<std::vector<Observation>>& matches,
           const std::vector<Eigen::Vector3d>& points,
           const std::vector<SphericalTransform>& cameras,
           const std::vector<Eigen::Vector3d>& rotations,
           const Eigen::Vector3d& turn,
           double miss) {
    double sum = 0.0;
    size_t count = 0;
    for (size_t m = 0; m < matches.size(); ++m)
        for (const Observation& o : matches[m]) {
            Reprojection r{&cameras[size_t(o.camera)], o.position, miss};
            double residual[2];
            r(rotations[size_t(o.camera)].data(), turn.data(), points[m].data(), residual);
            sum += residual[0] * residual[0] + residual[1] * residual[1];
            count += 2;
        }
    return count ? std::sqrt(sum / double(count)) : 0.0;
}

}  // namespace

double RigCorrection::degrees(int c) const {
    if (c < 0 || c >= int(rotations.size())) return 0.0;
    return Eigen::AngleAxisd(rotations[size_t(c)]).angle() * 180.0 / M_PI;
}

std::string RigCorrection::toText() const {
    std::ostringstream out;
    out.precision(17);
    out << rotations.size();
    for (size_t c = 0; c < rotations.size(); ++c) {
        const Eigen::AngleAxisd turn(rotations[c]);
        const Eigen::Vector3d v = turn.axis() * turn.angle() * 180.0 / M_PI;
        out << ' ' << v.x() << ' ' << v.y() << ' ' << v.z() << ' '
            << (c < focalScales.size() ? focalScales[c] : 1.0);
        const Eigen::Vector2d shift =
            c < centreShifts.size() ? centreShifts[c] : Eigen::Vector2d::Zero();
        out << ' ' << shift.x() << ' ' << shift.y();
    }
    if (!positionTurn.isIdentity()) {
        const Eigen::AngleAxisd turn(positionTurn);
        const Eigen::Vector3d v = turn.axis() * turn.angle() * 180.0 / M_PI;
        out << " positions " << v.x() << ' ' << v.y() << ' ' << v.z();
    }
    return out.str();
}

bool RigCorrection::fromText(const std::string& text, int cameras, RigCorrection* out) {
    std::istringstream in(text);
    int count = -1;
    if (!(in >> count) || count != cameras) return false;
    RigCorrection read;
    for (int c = 0; c < count; ++c) {
        double v[6];
        for (double& x : v)
            if (!(in >> x) || !std::isfinite(x)) return false;
        const Eigen::Vector3d w = Eigen::Vector3d(v[0], v[1], v[2]) * M_PI / 180.0;
        read.rotations.push_back(fromAngleAxis(w.data()));
        if (!(v[3] > 0.0)) return false;
        read.focalScales.push_back(v[3]);
        read.centreShifts.emplace_back(v[4], v[5]);
    }
    std::string rest;
    if (in >> rest) {
        double v[3];
        if (rest != "positions") return false;
        for (double& x : v)
            if (!(in >> x) || !std::isfinite(x)) return false;
        const Eigen::Vector3d w = Eigen::Vector3d(v[0], v[1], v[2]) * M_PI / 180.0;
        read.positionTurn = fromAngleAxis(w.data());
        if (in >> rest) return false;
    }
    read.ok = true;
    *out = std::move(read);
    return true;
}

CameraRigDefinition CorrectedRig(const CameraRigDefinition& rig,
                                 const std::vector<Eigen::Matrix3d>& rotations) {
    CameraRigDefinition out = rig;
    for (int c = 0; c < rig.getNumberCameras() && c < int(rotations.size()); ++c) {
        CameraDefinition camera = rig.getCamera(c);
        camera.setCameraToWorldRotation(rotations[size_t(c)] * camera.getCameraToWorldRotation());
        out.setCamera(c, camera);
    }
    return out;
}

CameraRigDefinition CorrectedRig(const CameraRigDefinition& rig, const RigCorrection& correction) {
    CameraRigDefinition out = CorrectedRig(rig, correction.rotations);
    for (int c = 0; c < rig.getNumberCameras(); ++c) {
        CameraDefinition camera = out.getCamera(c);
        camera.setPosition(correction.positionTurn * camera.getPosition());
        if (c < int(correction.focalScales.size()))
            camera.setFocalLength(camera.getFocalLength() * correction.focalScales[size_t(c)]);
        if (c < int(correction.centreShifts.size()))
            camera.setCentreShift(camera.getCentreShift() + correction.centreShifts[size_t(c)]);
        out.setCamera(c, camera);
    }
    return out;
}

RigCorrection RefineRig(const CameraRigDefinition& rig,
                        const std::vector<const CameraTrack*>& frames,
                        const RefineRigOptions& options,
                        ProgressReporter* progress) {
    RigCorrection result;
    const int n = rig.getNumberCameras();
    result.rotations.assign(size_t(n), Eigen::Matrix3d::Identity());

    // The matches, and per camera how many it takes part in.
    std::vector<std::vector<Observation>> matches;
    std::vector<int> perCamera(size_t(n), 0);
    for (const CameraTrack* track : frames) {
        if (!track) continue;
        for (const FeatureTrack& match : track->getTracks()) {
            std::vector<Observation> observations;
            for (const auto& [camera, feature] : match.getFeatures())
                if (camera >= 0 && camera < n)
                    observations.push_back({camera, feature.getPosition()});
            if (observations.size() < 2) continue;
            for (const Observation& o : observations) ++perCamera[size_t(o.camera)];
            matches.push_back(std::move(observations));
        }
    }
    auto name = [&rig](int c) {
        const std::string& view = rig.getCamera(c).getOutputView();
        return view.empty() ? "cam" + std::to_string(c + 1) : view;
    };
    if (matches.empty()) {
        result.message = "there are no matches: Match first";
        return result;
    }
    for (int c = 0; c < n; ++c)
        if (perCamera[size_t(c)] > 0 && perCamera[size_t(c)] < options.minMatchesPerCamera) {
            result.message = "camera " + name(c) + " has " + std::to_string(perCamera[size_t(c)]) +
                             (perCamera[size_t(c)] == 1 ? " match" : " matches") + ", at least " +
                             std::to_string(options.minMatchesPerCamera) + " are needed";
            return result;
        }

    // 1. The start: the rotations on which the matches' rays agree best.
    std::vector<detail::CameraRays> rays;
    std::vector<Eigen::Vector3d> centres;
    for (int c = 0; c < n; ++c) {
        rays.emplace_back(rig.getCamera(c));
        centres.push_back(rays.back().centre());
    }
    std::vector<detail::RayMatch> rayMatches;
    for (const auto& observations : matches)
        for (size_t i = 0; i + 1 < observations.size(); ++i) {
            detail::RayMatch m;
            m.a = observations[i].camera;
            m.b = observations[i + 1].camera;
            if (rays[size_t(m.a)].ray(observations[i].position, &m.rayA) &&
                rays[size_t(m.b)].ray(observations[i + 1].position, &m.rayB))
                rayMatches.push_back(m);
        }
    detail::RotationCorrectionOptions start;
    start.minDepth = std::max(0.3, rig.getRigDiameter());
    std::vector<Eigen::Matrix3d> initial;
    if (progress) progress->setProgressInterval(0.0, 0.1);
    detail::estimateRotationCorrections(centres, rayMatches, start, &initial);
    if (progress) progress->setProgressFraction(0.5);
    std::vector<Eigen::Vector3d> rotations(static_cast<size_t>(n));
    for (int c = 0; c < n; ++c) {
        const Eigen::AngleAxisd turn(initial[size_t(c)]);
        rotations[size_t(c)] = turn.angle() * turn.axis();
    }

    // 2. Points triangulated with the started rig.
    CameraTrack started(0);
    for (const auto& observations : matches) {
        FeatureTrack match;
        for (const Observation& o : observations)
            match.getFeatures().emplace_back(o.camera, Feature(o.position));
        started.getTracks().push_back(std::move(match));
    }
    std::vector<Eigen::Matrix3d> startRotations;
    for (int c = 0; c < n; ++c)
        startRotations.push_back(fromAngleAxis(rotations[size_t(c)].data()));
    const CameraRigDefinition startedRig = CorrectedRig(rig, startRotations);
    TriangulateFeatures(started, startedRig, true);
    if (progress) {
        progress->setProgressFraction(1.0);
        if (progress->isInterrupted()) {
            result.interrupted = true;
            return result;
        }
        progress->setProgressInterval(0.1, 1.0);
    }
    std::vector<SphericalTransform> startedCameras;
    for (int c = 0; c < n; ++c) startedCameras.emplace_back(startedRig.getCamera(c));
    std::vector<Eigen::Vector3d> points;
    for (size_t m = 0; m < matches.size(); ++m) {
        Eigen::Vector3d P = started.getTracks()[m].getPoint().getPosition();
        // Far points stay far but within reach of the solver's steps.
        if (P.norm() > 1000.0) P *= 1000.0 / P.norm();
        // Rays that part (a lens still off) meet nowhere in front: where they pass closest a
        // camera may not see the point, which leaves the solver nothing to pull. Such a point
        // starts far out along the rays' mean instead.
        Eigen::Vector3d mean = Eigen::Vector3d::Zero();
        bool seen = true;
        for (const Observation& o : matches[m]) {
            Eigen::Vector2d image;
            Eigen::Vector3d ray;
            seen = seen && startedCameras[size_t(o.camera)].ProjectFromWorld(P, &image);
            if (rays[size_t(o.camera)].ray(o.position, &ray))
                mean += startRotations[size_t(o.camera)] * ray;
        }
        if (!seen && mean.norm() > 0.0) P = kFarStart * mean.normalized();
        points.push_back(P);
    }

    // 3. The bundle adjustment.
    std::vector<SphericalTransform> cameras;
    double miss = 0.0;
    for (int c = 0; c < n; ++c) {
        cameras.emplace_back(rig.getCamera(c));
        miss = std::max(miss, double(rig.getCamera(c).getFormatWidth()));
    }
    Eigen::Vector3d turn = Eigen::Vector3d::Zero();
    result.rmsBefore = rms(matches, points, cameras, rotations, turn, miss);
    ceres::Problem problem;
    std::vector<Eigen::Vector3d> lenses(static_cast<size_t>(n), Eigen::Vector3d::Zero());
    for (size_t m = 0; m < matches.size(); ++m)
        for (const Observation& o : matches[m]) {
            double* rotation = rotations[size_t(o.camera)].data();
            if (options.refineLens) {
                auto* cost = new ceres::
                    NumericDiffCostFunction<LensReprojection, ceres::FORWARD, 2, 3, 3, 3, 3>(
                        new LensReprojection{&cameras[size_t(o.camera)], o.position, miss});
                problem.AddResidualBlock(cost,
                                         new ceres::CauchyLoss(options.lossScale),
                                         rotation,
                                         turn.data(),
                                         points[m].data(),
                                         lenses[size_t(o.camera)].data());
            } else {
                auto* cost =
                    new ceres::NumericDiffCostFunction<Reprojection, ceres::FORWARD, 2, 3, 3, 3>(
                        new Reprojection{&cameras[size_t(o.camera)], o.position, miss});
                problem.AddResidualBlock(cost,
                                         new ceres::CauchyLoss(options.lossScale),
                                         rotation,
                                         turn.data(),
                                         points[m].data());
            }
        }
    // The gauge (README: "The gauge"). With the lenses fixed, their errors bias the turn of the
    // whole rig that only parallax shows, so the mean correction is held at none (strongly
    // enough to stay within a thousandth of a degree) and the rig's turn against its positions
    // goes to the positions, faintly pulled toward none (10 degrees weigh as one coordinate off
    // by a pixel). With the lenses refined, the parallax places the rig (to a fifth of a degree
    // or so, README: "The whole rig's turn"): the positions stay. A rig of two cameras is the
    // exception: they share one overlap (two fisheyes back to back, a thin ring at their rims),
    // where nothing places the rig, and it keeps the gauge of fixed lenses.
    //
    // Refined lenses are held near their calibration (README: "Lens priors"): what the overlaps
    // cannot tell apart from a turn or from the depth of the points (a focal length on the ring
    // of two lenses, an optical centre against the turn of a narrow rectilinear camera) would
    // otherwise drift with the noise of the matches.
    const bool pair = n == 2;
    for (int c = 0; c < n && options.refineLens; ++c) {
        if (perCamera[size_t(c)] == 0) continue;
        const CameraDefinition& camera = rig.getCamera(c);
        const double radius =
            std::max(1.0,
                     camera.hasImageCircle()
                         ? camera.getImageCircleRadius()
                         : 0.5 * std::min(camera.getFormatWidth(), camera.getFormatHeight()));
        problem.AddResidualBlock(
            new ceres::AutoDiffCostFunction<LensPrior, 3, 3>(
                new LensPrior{options.focalSigma, options.centreSigma * radius, options.lossScale}),
            nullptr,
            lenses[size_t(c)].data());
    }
    if (options.refineLens && !pair) {
        problem.SetParameterBlockConstant(turn.data());
    } else {
        std::vector<double*> cameraBlocks;
        for (int c = 0; c < n; ++c) cameraBlocks.push_back(rotations[size_t(c)].data());
        problem.AddResidualBlock(new MeanCorrectionGauge(n, 1e6), nullptr, cameraBlocks);
        problem.AddResidualBlock(new ceres::AutoDiffCostFunction<TurnPull, 3, 3>(
                                     new TurnPull{options.lossScale / (10.0 * M_PI / 180.0)}),
                                 nullptr,
                                 turn.data());
    }
    ceres::Solver::Options solver;
    solver.linear_solver_type = ceres::SPARSE_SCHUR;
    solver.max_num_iterations = options.maxIterations;
    // One thread: the same matches must give the same correction on every run (a threaded
    // Schur elimination sums in a different order each time, and a rig's flat directions
    // turn that rounding into tenths of a degree), and the process's one worker pool stays
    // the only one.
    solver.num_threads = 1;
    solver.logging_type = ceres::SILENT;
    IterationProgress iterations(progress, options.maxIterations);
    if (progress) solver.callbacks.push_back(&iterations);
    ceres::Solver::Summary summary;
    ceres::Solve(solver, &problem, &summary);
    if (progress) progress->setProgressFraction(1.0);  // done, whichever way: the bar goes
    if (summary.termination_type == ceres::USER_FAILURE) {
        result.interrupted = true;
        return result;
    }
    if (!summary.IsSolutionUsable()) {
        result.message = "the refinement did not converge";
        return result;
    }
    for (int c = 0; c < n && options.refineLens; ++c)
        cameras[size_t(c)] =
            cameras[size_t(c)].withLens(1.0 + lenses[size_t(c)][0], lenses[size_t(c)].tail<2>());
    result.focalScales.assign(size_t(n), 1.0);
    result.centreShifts.assign(size_t(n), Eigen::Vector2d::Zero());
    for (int c = 0; c < n; ++c) {
        result.focalScales[size_t(c)] = 1.0 + lenses[size_t(c)][0];
        result.centreShifts[size_t(c)] = lenses[size_t(c)].tail<2>();
    }
    result.rmsAfter = rms(matches, points, cameras, rotations, turn, miss);
    result.positionTurn = fromAngleAxis(turn.data());
    result.matches = int(matches.size());
    for (int c = 0; c < n; ++c)
        result.rotations[size_t(c)] = fromAngleAxis(rotations[size_t(c)].data());
    result.ok = true;
    return result;
}

}  // namespace Research
}  // namespace Korvane
