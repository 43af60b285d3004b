// SPDX-License-Identifier: Apache-2.0
// The projection kernel against the rig library's point projections, lens by lens.
#include "render/kernels/ProjectionKernel.h"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "RenderTestImages.h"
#include "external/RigLibrary.h"
#include "render/kernels/RenderKernels.h"
#include "render/projection/ProjectionRecords.h"

using namespace Korvane::Research;
using Kiln::ImageProjection::ProjectionRecords;
using Kiln::ImageProjection::Size;

namespace {

constexpr int kCamWidth = 160, kCamHeight = 120;
constexpr int kPanoWidth = 256, kPanoHeight = 128;
constexpr double kConvergence = 3.0;

struct LensCase {
    std::string name;
    CameraDefinition camera;
};

// Every lens type with what can go wrong in it: distortion, a shifted centre, non-square
// pixels, a pose off the rig centre.
std::vector<LensCase> lensCases() {
    std::vector<LensCase> cases;
    const auto base = [](ProjectionTypeEnum type, double focal) {
        CameraDefinition c;
        c.setFormat(kCamWidth, kCamHeight, 1.1);
        c.setProjection(type);
        c.setFocalLength(focal);
        c.setSensorSize({22.3, 16.0});
        c.setCentreShift({3.5, -2.25});
        c.setDistortion({0.005, -0.03, 0.01});
        c.setPosition({0.12, 0.03, 0.09});
        c.setRotation({8.0, 35.0, -4.0});
        return c;
    };
    cases.push_back({"Rectilinear", base(ProjectionTypeEnum::Rectilinear, 14.0)});
    cases.push_back({"Fisheye", base(ProjectionTypeEnum::Fisheye, 9.0)});
    CameraDefinition wide = base(ProjectionTypeEnum::Fisheye, 6.7);  // 190 degrees across
    wide.setDistortion({0, 0, 0});
    cases.push_back({"Fisheye190", wide});
    // A circular fisheye: the housing outside its circle is no picture to the rig library, so
    // it must get no position (and resample to nothing) either.
    CameraDefinition circular = wide;
    circular.setImageCircle({82.0, 58.0}, 57.0);
    cases.push_back({"Fisheye190Circle", circular});
    CameraDefinition plain = base(ProjectionTypeEnum::Rectilinear, 14.0);
    plain.setUndistort(false);  // footage already undistorted: the coefficients are ignored
    cases.push_back({"RectilinearUndistorted", plain});
    CameraDefinition latlong = base(ProjectionTypeEnum::Latlong, 0.0);
    latlong.setDistortion({0, 0, 0});
    latlong.setCentreShift({0, 0});
    latlong.setFormat(kCamWidth, kCamHeight, 1.0);
    latlong.setPosition({0, 0, 0});  // a latlong camera turns the panorama; it stands nowhere
    cases.push_back({"Latlong", latlong});
    return cases;
}

ProjectionRecords recordsOf(const CameraDefinition& camera, int otherType) {
    ProjectionRecords r;
    r.camera = Kiln::ImageProjection::cameraRecord(camera);
    r.lens = Kiln::ImageProjection::lensRecord(camera);
    r.parallax.depth = float(kConvergence);
    r.otherType = otherType;
    return r;
}

Kiln::Image positionsOf(const ProjectionRecords& records, bool inverse, Size source, Size dest) {
    Kiln::Image positions = test::constantImage(dest.width, dest.height, 2, 0.0f);
    Kernels::projectPositions(
        positions, Kiln::ImageProjection::projectionScalars(records, inverse, false, source, dest));
    return positions;
}

// Compares every pixel's kernel position with `reference` (false: no image). A point whose
// reference lies within `edge` px of the source frame may go either way.
template <class Reference>
void expectPositions(const Kiln::Image& positions,
                     Size source,
                     const std::string& what,
                     Reference&& reference) {
    int compared = 0, failures = 0;
    double worst = 0.0;
    const Kiln::Box& b = positions.box();
    for (int y = b.y0; y < b.y1; ++y)
        for (int x = b.x0; x < b.x1; ++x) {
            Eigen::Vector2d expected;
            const bool has = reference(Eigen::Vector2d(x + 0.5, y + 0.5), &expected);
            const float* p = test::pixel(positions, x, y);
            const bool kernelHas = Kernels::isSample(p[0]);
            if (has && kernelHas) {
                ++compared;
                worst = std::max(worst, (Eigen::Vector2d(p[0], p[1]) - expected).norm());
            } else if (has != kernelHas) {
                const bool nearEdge = has && (expected.x() < 0.05 || expected.y() < 0.05 ||
                                              expected.x() > source.width - 0.05 ||
                                              expected.y() > source.height - 0.05);
                if (!nearEdge && ++failures <= 3)
                    ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") rig library "
                                  << (has ? "has" : "has no") << " image, kernel "
                                  << (kernelHas ? "has" : "has none");
            }
        }
    EXPECT_GT(compared, 100) << what;
    EXPECT_LT(worst, 0.01) << what << ": largest difference in px";
}

void PrintTo(const LensCase& c, std::ostream* os) { *os << c.name; }

class ProjectionKernelAgainstRig : public ::testing::TestWithParam<LensCase> {};

TEST_P(ProjectionKernelAgainstRig, PanoramaAndIdealPositionsMatchSphericalTransform) {
    const CameraDefinition& camera = GetParam().camera;
    SphericalTransform transform(camera);
    transform.setOutputImageSize(kPanoWidth, kPanoHeight);
    transform.setConvergenceDepth(kConvergence);
    const Size cam{kCamWidth, kCamHeight}, pano{kPanoWidth, kPanoHeight};

    // Camera into the panorama: each panorama pixel shows the camera point of its direction on
    // the convergence sphere.
    const Kiln::Image to = positionsOf(recordsOf(camera, 2), false, cam, pano);
    expectPositions(to, cam, "camera to latlong", [&](Eigen::Vector2d p, Eigen::Vector2d* out) {
        return transform.ProjectFromIdeal(p, ProjectionTypeEnum::Latlong, out);
    });
    // The panorama through the camera: each camera pixel shows its ideal latlong point.
    const Kiln::Image from = positionsOf(recordsOf(camera, 2), true, pano, cam);
    expectPositions(from, pano, "latlong to camera", [&](Eigen::Vector2d p, Eigen::Vector2d* out) {
        return transform.ProjectToIdeal(p, ProjectionTypeEnum::Latlong, out);
    });

    if (camera.getProjection() == ProjectionTypeEnum::Latlong) return;  // no lens to idealise
    // The same lens type: the ideal image is the undistorted, centred camera image.
    const SphericalTransform lens(camera);
    const int own = int(camera.getProjection());
    const Kiln::Image same = positionsOf(recordsOf(camera, own), false, cam, cam);
    expectPositions(same, cam, "ideal, same lens", [&](Eigen::Vector2d p, Eigen::Vector2d* out) {
        return lens.ProjectFromIdeal(p, camera.getProjection(), out);
    });
    // The other lens type, its focal length converted: the ideal camera of that lens sees a
    // ray, which the real camera (turned back to the rig axes) images.
    const int other = 1 - own;
    CameraDefinition ideal;
    ideal.setFormat(kCamWidth, kCamHeight, camera.getPixelAspect());
    ideal.setProjection(ProjectionTypeEnum(other));
    ideal.setSensorSize(camera.getSensorSize());
    ideal.setFocalLength(Kiln::ImageProjection::convertFocalLength(
        float(camera.getFocalLength()), float(camera.getSensorSize().x()), own, other));
    CameraDefinition atCentre = camera;
    atCentre.setPosition({0, 0, 0});
    atCentre.setRotation({0, 0, 0});
    const SphericalTransform idealTransform(ideal), cameraTransform(atCentre);
    const Kiln::Image converted = positionsOf(recordsOf(camera, other), false, cam, cam);
    expectPositions(
        converted, cam, "ideal, other lens", [&](Eigen::Vector2d p, Eigen::Vector2d* out) {
            Eigen::Vector3d world;
            return idealTransform.ProjectToWorld(p, &world) &&
                   cameraTransform.ProjectFromWorld(world, out);
        });
}

INSTANTIATE_TEST_SUITE_P(Lenses,
                         ProjectionKernelAgainstRig,
                         ::testing::ValuesIn(lensCases()),
                         [](const auto& info) { return info.param.name; });

// A view's virtual camera (undistorted rectilinear at the rig centre, parallax at infinity)
// takes the kernel's single-precision row path; it must still see the panorama as the rig
// library's camera does, centre shift and pixel aspect included.
TEST(ProjectionKernel, AVirtualCameraSeesThePanoramaAsTheRigLibraryDoes) {
    CameraDefinition view = lensCases()[4].camera;
    ASSERT_EQ(lensCases()[4].name, "RectilinearUndistorted");
    view.setPosition({0, 0, 0});
    const SphericalTransform transform = [&] {
        SphericalTransform t(view);
        t.setOutputImageSize(kPanoWidth, kPanoHeight);
        return t;
    }();
    ProjectionRecords records = recordsOf(view, 2);
    records.parallax.depth = 0.0f;
    const Size cam{kCamWidth, kCamHeight}, pano{kPanoWidth, kPanoHeight};
    const Kiln::Image from = positionsOf(records, true, pano, cam);
    expectPositions(from, pano, "virtual camera", [&](Eigen::Vector2d p, Eigen::Vector2d* out) {
        return transform.ProjectToIdeal(p, ProjectionTypeEnum::Latlong, out);
    });
}

}  // namespace
