// SPDX-License-Identifier: Apache-2.0
#include "render/kernels/RenderKernels.h"

#include <string>

#include "kiln/Exception.h"
#include "kiln/ExplicitLaunch.h"
#include "kiln/LaunchKernel.h"
#include "render/kernels/DensifyGrid.h"
#include "render/kernels/ProjectionKernel.h"
#include "render/kernels/Resample.h"
#include "render/kernels/RotateLatlong.h"
#include "render/kernels/VectorOperations.h"

namespace Korvane {
namespace Research {
namespace Kernels {
namespace {

using Kiln::Compute::ImageHandler;
using Kiln::Compute::KernelExecutionContext;
using Kiln::Compute::ParamHandler;
using Kiln::Compute::ProgramSource;
using Kiln::Compute::WriteScalar;

// The projection and rotation sites launch the flags-19 variants; the short launches pass
// `optimised` false, the flags-1 variants.
constexpr unsigned kOptimisedFlags = 19;

const ProgramSource kProjectionProgram(nullptr, 0, 0, kProjectionId);
const ProgramSource kResamplePrograms[4] = {ProgramSource(nullptr, 0, 0, kResampleBilinearId),
                                            ProgramSource(nullptr, 0, 0, kResampleCubicId),
                                            ProgramSource(nullptr, 0, 0, kResampleLanczosId),
                                            ProgramSource(nullptr, 0, 0, kResampleNearestId)};
const ProgramSource kVectorConvertProgram(nullptr, 0, 0, kVectorConvertId);
const ProgramSource kVectorComposeProgram(nullptr, 0, 0, kVectorComposeId);
const ProgramSource kDensifyGridProgram(nullptr, 0, 0, kDensifyGridId);
const ProgramSource kGridWarpProgram(nullptr, 0, 0, kGridWarpId);
const ProgramSource kRotateLatlongProgram(nullptr, 0, 0, kRotateLatlongId);

bool isFilter(Filter filter) { return int(filter) >= 0 && int(filter) <= 3; }

void launchShort(const ProgramSource& program,
                 std::initializer_list<const Kiln::Image*> images,
                 std::initializer_list<Kiln::Compute::Param> params,
                 const Kiln::Box* rectangle) {
    const std::vector<const Kiln::Image*> list(images);
    const std::vector<Kiln::Compute::Param> values(params);
    const ImageHandler imageHandler(list.size(), list.data());
    const ParamHandler paramHandler(values.size(), values.data());
    Kiln::Compute::LaunchKernel(program, imageHandler, &paramHandler, rectangle, false);
}

}  // namespace

void projectPositions(Kiln::Image& positions, const ProjectionScalars& s) {
    Kiln::Compute::RunExplicit(
        kProjectionProgram, kOptimisedFlags, {&positions}, [&](KernelExecutionContext& context) {
            const auto name = [](ProjectionParam p) { return kProjectionParamNames[p]; };
            WriteScalar(context, name(kPSourceWidth), s.sourceWidth);
            WriteScalar(context, name(kPSourceHeight), s.sourceHeight);
            WriteScalar(context, name(kPDestWidth), s.destWidth);
            WriteScalar(context, name(kPDestHeight), s.destHeight);
            WriteScalar(context, name(kPInverse), s.inverse);
            WriteScalar(context, name(kPWrap), s.wrap);
            WriteScalar(context, name(kPFocal), s.focal);
            WriteScalar(context, name(kPSensorWidth), s.sensorWidth);
            WriteScalar(context, name(kPAspect), s.aspect);
            WriteScalar(context, name(kPShiftX), s.shift[0]);
            WriteScalar(context, name(kPShiftY), s.shift[1]);
            WriteScalar(context, name(kPDistortionA), s.distortion[0]);
            WriteScalar(context, name(kPDistortionB), s.distortion[1]);
            WriteScalar(context, name(kPDistortionC), s.distortion[2]);
            WriteScalar(context, name(kPUndistort), s.undistort);
            WriteScalar(context, name(kPMaxIdealRadius), s.maxIdealRadius);
            WriteScalar(context, name(kPPositionX), s.position[0]);
            WriteScalar(context, name(kPPositionY), s.position[1]);
            WriteScalar(context, name(kPPositionZ), s.position[2]);
            WriteScalar(context, name(kPRotationX), s.rotation[0]);
            WriteScalar(context, name(kPRotationY), s.rotation[1]);
            WriteScalar(context, name(kPRotationZ), s.rotation[2]);
            WriteScalar(context, name(kPOtherFocal), s.otherFocal);
            WriteScalar(context, name(kPOriginX), s.origin[0]);
            WriteScalar(context, name(kPOriginY), s.origin[1]);
            WriteScalar(context, name(kPOriginZ), s.origin[2]);
            WriteScalar(context, name(kPDepth), s.depth);
            WriteScalar(context, name(kPEnabled), s.enabled);
            WriteScalar(context, name(kPOtherType), s.otherType);
            WriteScalar(context, name(kPCameraType), s.cameraType);
            WriteScalar(context, name(kPCircleX), s.imageCircle[0]);
            WriteScalar(context, name(kPCircleY), s.imageCircle[1]);
            WriteScalar(context, name(kPCircleRadius), s.imageCircle[2]);
        });
}

void resample(Filter filter,
              const Kiln::Image& source,
              const Kiln::Image& positions,
              Kiln::Image& destination,
              int width,
              int height,
              bool wrap) {
    if (!isFilter(filter)) return;
    if (width < 1 || height < 1)
        throw Kiln::KernelError("resample: source frame " + std::to_string(width) + " x " +
                                std::to_string(height) + " has no pixels");
    const Kiln::Box rectangle = destination.box();
    launchShort(kResamplePrograms[int(filter)],
                {&source, &positions, &destination},
                {ParamHandler::makeParam(kResampleWidth, width),
                 ParamHandler::makeParam(kResampleHeight, height),
                 ParamHandler::makeParam(kResampleWrap, wrap)},
                &rectangle);
}

void convertVectors(const Kiln::Image& source, Kiln::Image& destination, VectorMode mode) {
    launchShort(kVectorConvertProgram,
                {&source, &destination},
                {ParamHandler::makeParam(kVectorConvertMode, int(mode))},
                nullptr);
}

void composeVectors(const Kiln::Image& inner, Kiln::Image& positions, bool innerWraps) {
    launchShort(kVectorComposeProgram,
                {&inner, &positions},
                {ParamHandler::makeParam(kVectorComposeWrap, innerWraps ? 1 : 0)},
                nullptr);
}

void densifyGrid(const Kiln::Image& grid,
                 Kiln::Image& dense,
                 float width,
                 float height,
                 float scaleX,
                 float scaleY) {
    launchShort(kDensifyGridProgram,
                {&grid, &dense},
                {ParamHandler::makeParam(kDensifyGridWidth, width),
                 ParamHandler::makeParam(kDensifyGridHeight, height),
                 ParamHandler::makeParam(kDensifyGridScaleX, scaleX),
                 ParamHandler::makeParam(kDensifyGridScaleY, scaleY)},
                nullptr);
}

void warpPositionsByGrid(const Kiln::Image& grid,
                         Kiln::Image& positions,
                         float width,
                         float height,
                         float scaleX,
                         float scaleY) {
    launchShort(kGridWarpProgram,
                {&grid, &positions},
                {ParamHandler::makeParam(kGridWarpWidth, width),
                 ParamHandler::makeParam(kGridWarpHeight, height),
                 ParamHandler::makeParam(kGridWarpScaleX, scaleX),
                 ParamHandler::makeParam(kGridWarpScaleY, scaleY)},
                nullptr);
}

namespace {

void launchTurn(const Kiln::Image& source,
                Kiln::Image& destination,
                const Quaternion& q,
                Filter filter,
                int lensType,
                const IdealLens& lens) {
    if (!isFilter(filter)) return;
    Kiln::Compute::RunExplicit(kRotateLatlongProgram,
                               kOptimisedFlags,
                               {&source, &destination},
                               [&](KernelExecutionContext& context) {
                                   WriteScalar(context, kRotateW, q.w);
                                   WriteScalar(context, kRotateX, q.x);
                                   WriteScalar(context, kRotateY, q.y);
                                   WriteScalar(context, kRotateZ, q.z);
                                   WriteScalar(context, kRotateFilter, int(filter));
                                   WriteScalar(context, kRotateLens, lensType);
                                   WriteScalar(context, kRotateFocal, lens.focal);
                                   WriteScalar(context, kRotateCentreX, lens.centreX);
                                   WriteScalar(context, kRotateCentreY, lens.centreY);
                                   WriteScalar(context, kRotateAspect, lens.aspect);
                               });
}

}  // namespace

void rotateLatlong(const Kiln::Image& source,
                   Kiln::Image& destination,
                   const Quaternion& q,
                   Filter filter) {
    launchTurn(source, destination, q, filter, 0, IdealLens{});
}

void lookThrough(const Kiln::Image& panorama,
                 Kiln::Image& destination,
                 const Quaternion& q,
                 const IdealLens& lens,
                 Filter filter) {
    launchTurn(
        panorama, destination, q, filter, lens.type == IdealLens::Type::Fisheye ? 2 : 1, lens);
}

void registerRenderKernels() {
    registerProjection();
    registerResample();
    registerVectorOperations();
    registerDensifyGrid();
    registerRotateLatlong();
}

}  // namespace Kernels
}  // namespace Research
}  // namespace Korvane
