// SPDX-License-Identifier: Apache-2.0
#include "constraints/TriangulationLeastSquaresFunction.h"

#include <cmath>

#include <unsupported/Eigen/NonLinearOptimization>
#include <unsupported/Eigen/NumericalDiff>

#include "vellacam/CameraTrack.h"
#include "vellacam/TriangulateFeatures.h"

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
        const CameraDefinition& camera = cameras[size_t(o.first)].getCamera();
        m_observations.push_back({&cameras[size_t(o.first)],
                                  o.second.getPosition(),
                                  std::hypot(camera.getFormatWidth(), camera.getFormatHeight())});
    }
}

void TriangulationLeastSquaresFunction::f(const Eigen::Vector3d& point,
                                          Eigen::VectorXd* residuals) const {
    residuals->resize(numberOfResiduals());
    for (size_t k = 0; k < m_observations.size(); ++k) {
        const Observation& o = m_observations[k];
        Eigen::Vector2d image;
        if (o.camera->ProjectFromWorld(point, &image))
            residuals->segment<2>(Eigen::Index(2 * k)) = o.position - image;
        else
            residuals->segment<2>(Eigen::Index(2 * k)).setConstant(o.penalty);
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
