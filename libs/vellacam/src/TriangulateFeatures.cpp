// SPDX-License-Identifier: Apache-2.0
#include "vellacam/TriangulateFeatures.h"

#include <cmath>
#include <vector>

#include <Eigen/Dense>

#include "MatchGeometry.h"

namespace Korvane {
namespace Research {

namespace {

// Rays closer to parallel than this (the smaller eigenvalue of the normal matrix per ray,
// about the squared angle between them in radians) fix no depth.
constexpr double kParallel = 1e-10;

}  // namespace

int TriangulateFeatures(CameraTrack& track, const CameraRigDefinition& rig, bool replaceExisting) {
    const int n = rig.getNumberCameras();
    std::vector<detail::CameraRays> rays;
    for (int c = 0; c < n; ++c) rays.emplace_back(rig.getCamera(c));
    int triangulated = 0;
    for (FeatureTrack& match : track.getTracks()) {
        if (!replaceExisting && match.getPoint().getIsValid()) continue;
        // Least squares over rays (o, d): sum of (I - d d^T)(P - o) = 0.
        Eigen::Matrix3d a = Eigen::Matrix3d::Zero();
        Eigen::Vector3d b = Eigen::Vector3d::Zero();
        Eigen::Vector3d meanDirection = Eigen::Vector3d::Zero();
        Eigen::Vector3d meanOrigin = Eigen::Vector3d::Zero();
        int used = 0;
        for (const FeatureTrack::Observation& o : match.getFeatures()) {
            Eigen::Vector3d d;
            if (o.first < 0 || o.first >= n ||
                !rays[size_t(o.first)].ray(o.second.getPosition(), &d))
                continue;
            const Eigen::Matrix3d m = Eigen::Matrix3d::Identity() - d * d.transpose();
            a += m;
            b += m * rays[size_t(o.first)].centre();
            meanDirection += d;
            meanOrigin += rays[size_t(o.first)].centre();
            ++used;
        }
        if (used < 2) {
            match.setPoint(Point());
            continue;
        }
        meanOrigin /= used;
        Eigen::Vector3d position;
        const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(a);
        bool far = eigen.eigenvalues()[0] < kParallel * used;
        if (!far) {
            position = a.ldlt().solve(b);
            // Behind the cameras (rays that diverge) or beyond the far limit: treat as far.
            far = !position.allFinite() || (position - meanOrigin).dot(meanDirection) <= 0.0 ||
                  (position - meanOrigin).norm() > detail::kFarDepth;
        }
        if (far) position = meanOrigin + detail::kFarDepth * meanDirection.normalized();

        double sum = 0.0;
        int residuals = 0;
        for (const FeatureTrack::Observation& o : match.getFeatures()) {
            residuals += 2;
            Eigen::Vector2d image;
            const CameraDefinition* camera =
                o.first >= 0 && o.first < n ? &rig.getCamera(o.first) : nullptr;
            if (camera && rays[size_t(o.first)].project(position, &image)) {
                sum += (o.second.getPosition() - image).squaredNorm();
            } else {
                const double diagonal =
                    camera ? std::hypot(camera->getFormatWidth(), camera->getFormatHeight()) : 0.0;
                sum += 2.0 * diagonal * diagonal;
            }
        }
        match.setPoint(Point(position, std::sqrt(sum / residuals)));
        ++triangulated;
    }
    return triangulated;
}

}  // namespace Research
}  // namespace Korvane
