// SPDX-License-Identifier: Apache-2.0
#include "constraints/TriangulationLeastSquaresFunction.h"

#include <algorithm>
#include <cmath>

#include <Eigen/Geometry>

#include <unsupported/Eigen/NonLinearOptimization>
#include <unsupported/Eigen/NumericalDiff>

#include "external/RigLibrary.h"

namespace Korvane {
namespace Research {

namespace {

/// TriangulationLeastSquaresFunction in the form Eigen's NumericalDiff asks for.
struct MinimiserFunctor {
    using Scalar = double;
    using InputType = Eigen::VectorXd;
    using ValueType = Eigen::VectorXd;
    using JacobianType = Eigen::MatrixXd;
    enum { InputsAtCompileTime = Eigen::Dynamic, ValuesAtCompileTime = Eigen::Dynamic };

    const TriangulationLeastSquaresFunction* function;

    int inputs() const { return function->numberOfUnknowns(); }
    int values() const { return function->numberOfResiduals(); }
    int operator()(const Eigen::VectorXd& x, Eigen::VectorXd& residuals) const {
        function->f(Eigen::Vector3d(x[0], x[1], x[2]), &residuals);
        return 0;
    }
};

}  // namespace

TriangulationContext::TriangulationContext(std::vector<SphericalTransform> transforms, int width)
    : cameras(std::move(transforms)),
      errorScale(!cameras.empty() && width > 0 ? kErrorScaleWidth / width : 1.0) {}

TriangulationLeastSquaresFunction::TriangulationLeastSquaresFunction(
    const std::vector<SphericalTransform>& cameras, const FeatureTrack& match) {
    for (const FeatureTrack::Observation& o : match.getFeatures()) {
        if (o.first < 0 || o.first >= int(cameras.size())) continue;
        const SphericalTransform& camera = cameras[size_t(o.first)];
        Observation out{&camera,
                        o.second.getPosition(),
                        camera.getCamera().getPosition(),
                        Eigen::Vector3d::Zero(),
                        Eigen::Vector3d::Zero(),
                        Eigen::Vector3d::Zero(),
                        0.0};
        // The observed ray, and the angle one pixel spans there (a step toward the image centre).
        auto ray = [&](const Eigen::Vector2d& p, Eigen::Vector3d* d) {
            Eigen::Vector3d world;
            if (!camera.ProjectToWorld(p, &world)) return false;
            *d = (world - out.centre).normalized();
            return true;
        };
        const double toward =
            out.position.x() < 0.5 * camera.getCamera().getFormatWidth() ? 1.0 : -1.0;
        Eigen::Vector3d next;
        if (ray(out.position, &out.ray) &&
            ray(out.position + Eigen::Vector2d(toward, 0.0), &next)) {
            out.axisU = out.ray.unitOrthogonal();
            out.axisV = out.ray.cross(out.axisU);
            const double angle = std::acos(std::clamp(out.ray.dot(next), -1.0, 1.0));
            out.pixelsPerRadian = angle > 0.0 ? 1.0 / angle : 0.0;
        }
        m_observations.push_back(out);
    }
}

void TriangulationLeastSquaresFunction::f(const Eigen::Vector3d& point,
                                          Eigen::VectorXd* residuals) const {
    residuals->resize(numberOfResiduals());
    for (size_t k = 0; k < m_observations.size(); ++k) {
        const Observation& o = m_observations[k];
        Eigen::Vector2d image;
        if (o.camera->ProjectFromWorld(point, &image)) {
            residuals->segment<2>(Eigen::Index(2 * k)) = o.position - image;
            continue;
        }
        const Eigen::Vector3d towardPoint = (point - o.centre).normalized();
        // Angles for small offsets; a point behind the ray (dot < 0) counts a right angle more.
        const Eigen::Vector3d offset = towardPoint - o.ray;
        const double behind = towardPoint.dot(o.ray) < 0.0 ? M_PI_2 : 0.0;
        residuals->segment<2>(Eigen::Index(2 * k)) =
            o.pixelsPerRadian * Eigen::Vector2d(o.axisU.dot(offset) + behind, o.axisV.dot(offset));
    }
}

bool triangulateMatch(const TriangulationContext& context, FeatureTrack& match) {
    const TriangulationLeastSquaresFunction function(context.cameras, match);
    if (function.numberOfResiduals() < 4) return false;

    Eigen::Vector3d start = match.getPoint().getPosition();
    if (!match.getPoint().getIsValid()) {
        // No point yet (a match placed by hand): begin where the rays pass closest.
        CameraRigDefinition rig;
        rig.setNumberCameras(int(context.cameras.size()));
        for (size_t c = 0; c < context.cameras.size(); ++c)
            rig.setCamera(int(c), context.cameras[c].getCamera());
        CameraTrack single(0);
        single.getTracks().push_back(match);
        TriangulateFeatures(single, rig, true);
        start = single.getTracks()[0].getPoint().getPosition();
    }

    MinimiserFunctor functor{&function};
    Eigen::NumericalDiff<MinimiserFunctor> differences(functor, 1e-9);
    Eigen::LevenbergMarquardt<Eigen::NumericalDiff<MinimiserFunctor>> minimiser(differences);
    minimiser.parameters.ftol = 1e-6;
    minimiser.parameters.xtol = 1e-8;
    minimiser.parameters.gtol = 1e-5;
    minimiser.parameters.maxfev = 400 * function.numberOfUnknowns();
    Eigen::VectorXd x = start;
    minimiser.minimize(x);  // not converging is no failure: the last estimate stands

    const Eigen::Vector3d point(x[0], x[1], x[2]);
    Eigen::VectorXd residuals;
    function.f(point, &residuals);
    const double rms = std::sqrt(residuals.squaredNorm() / double(residuals.size()));
    match.setPoint(Point(point, rms * context.errorScale));
    return true;
}

}  // namespace Research
}  // namespace Korvane
