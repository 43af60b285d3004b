// SPDX-License-Identifier: Apache-2.0
#include "render/StitcherKernels.h"

#include <algorithm>

#include "kiln/ExplicitLaunch.h"
#include "kiln/LaunchKernel.h"
#include "render/kernels/FieldKernels.h"
#include "render/kernels/MultiBandKernels.h"
#include "render/kernels/StitchKernels.h"

namespace Kiln {
namespace ImageStitcher {
namespace {

using Compute::ImageHandler;
using Compute::KernelExecutionContext;
using Compute::Param;
using Compute::ParamHandler;
using Compute::ProgramSource;
using namespace Kernels;

const ProgramSource kResizeProgram(nullptr, 0, 0, kResizeBoundsId);
const ProgramSource kBandProgram(nullptr, 0, 0, kBandAccumulateId);
const ProgramSource kFillProgram(nullptr, 0, 0, kFillLevelId);
const ProgramSource kAlphaProgram(nullptr, 0, 0, kAlphaAccumulateId);
const ProgramSource kLabelProgram(nullptr, 0, 0, kSeamLabelId);
const ProgramSource kLabelReduceProgram(nullptr, 0, 0, kSeamLabelReduceId);
const ProgramSource kWeightProgram(nullptr, 0, 0, kSeamWeightId);
const ProgramSource kNormaliseProgram(nullptr, 0, 0, kNormaliseId);
const ProgramSource kAlignProgram(nullptr, 0, 0, kAlignId);
const ProgramSource kBandFillProgram(nullptr, 0, 0, kBandFillId);
const ProgramSource kBandZeroProgram(nullptr, 0, 0, kBandZeroId);
const ProgramSource kCollapseLevelProgram(nullptr, 0, 0, kCollapseLevelId);
const ProgramSource kCollapseFinalProgram(nullptr, 0, 0, kCollapseFinalId);

// The stitcher's sites all run the speed-optimised variants.
constexpr bool kOptimised = true;

template <std::size_t N, std::size_t P>
void shortLaunch(const ProgramSource& program,
                 const std::array<const Image*, N>& images,
                 const std::array<Param, P>& params,
                 const Box* rectangle) {
    const ImageHandler handler(N, images.data());
    const ParamHandler scalars(P, params.data());
    Compute::LaunchKernel(program, handler, &scalars, rectangle, kOptimised);
}

/// The same with the falloff image, when there is one, as the last image.
template <std::size_t N, std::size_t P>
void shortLaunch(const ProgramSource& program,
                 const std::array<const Image*, N>& images,
                 const std::array<Param, P>& params,
                 const Box* rectangle,
                 const Image* falloff) {
    if (falloff == nullptr || falloff->empty()) {
        shortLaunch(program, images, params, rectangle);
        return;
    }
    std::array<const Image*, N + 1> all;
    std::copy(images.begin(), images.end(), all.begin());
    all[N] = falloff;
    shortLaunch(program, all, params, rectangle);
}

}  // namespace

Image falloffImage(const AxisCosines& cosines,
                   const std::vector<float>& table,
                   const Compute::DevicePtr& device) {
    const Box& box = cosines.box();
    const int width = std::max({box.width(), box.height(), int(table.size())});
    HostImage host(width, kFalloffRows, 1, 0.0f);
    for (int x = box.x0; x < box.x1; ++x)
        host.at(x - box.x0, kFalloffColumnRow) = float(cosines.column(x));
    for (int y = box.y0; y < box.y1; ++y) {
        host.at(y - box.y0, kFalloffCosLatitudeRow) = float(cosines.cosLatitude(y));
        host.at(y - box.y0, kFalloffUpRow) = float(cosines.up(y));
    }
    std::copy(table.begin(), table.end(), &host.at(0, kFalloffTableRow));
    return upload(host, Box{0, 0, width, kFalloffRows}, device);
}

void resizeBounds(
    const Image& source, const Bounds& s, Image& destination, const Bounds& d, bool wrap) {
    Compute::RunExplicit(
        kResizeProgram, 19, {&source, &destination}, [&](KernelExecutionContext& context) {
            using Compute::WriteScalar;
            WriteScalar(context, kSourceLeft, s.left);
            WriteScalar(context, kSourceRight, s.right);
            WriteScalar(context, kSourceBottom, s.bottom);
            WriteScalar(context, kSourceTop, s.top);
            WriteScalar(context, kDestinationLeft, d.left);
            WriteScalar(context, kDestinationRight, d.right);
            WriteScalar(context, kDestinationBottom, d.bottom);
            WriteScalar(context, kDestinationTop, d.top);
            WriteScalar(context, kWrap, wrap);
        });
}

void accumulateBand(const Image& level,
                    const Image& expanded,
                    const Image& weight,
                    Image& accumulator,
                    const std::array<float, 3>& gain,
                    bool coarsest,
                    const Box& rectangle,
                    const Image* falloff) {
    shortLaunch<4, 4>(kBandProgram,
                      {&level, &expanded, &weight, &accumulator},
                      {ParamHandler::makeParam(kGainR, gain[0]),
                       ParamHandler::makeParam(kGainG, gain[1]),
                       ParamHandler::makeParam(kGainB, gain[2]),
                       ParamHandler::makeParam(kCoarsest, coarsest)},
                      &rectangle,
                      falloff);
}

void fillLevel(const Image& level,
               const Image& expanded,
               Image& filled,
               const std::array<float, 3>& fill,
               float threshold,
               bool coarsest,
               const Box& rectangle) {
    shortLaunch<3, 5>(kFillProgram,
                      {&level, &expanded, &filled},
                      {ParamHandler::makeParam(kFillR, fill[0]),
                       ParamHandler::makeParam(kFillG, fill[1]),
                       ParamHandler::makeParam(kFillB, fill[2]),
                       ParamHandler::makeParam(kThreshold, threshold),
                       ParamHandler::makeParam(kCoarsest, coarsest)},
                      &rectangle);
}

void accumulateAlpha(const Image& camera,
                     const Image& feather,
                     Image& accumulator,
                     const std::array<float, 3>& gain,
                     float featherScaleX,
                     float featherScaleY,
                     float floor,
                     float threshold,
                     const Box& rectangle,
                     const Image* falloff) {
    shortLaunch<3, 7>(kAlphaProgram,
                      {&camera, &feather, &accumulator},
                      {ParamHandler::makeParam(kGainR, gain[0]),
                       ParamHandler::makeParam(kGainG, gain[1]),
                       ParamHandler::makeParam(kGainB, gain[2]),
                       ParamHandler::makeParam(kScaleX, featherScaleX),
                       ParamHandler::makeParam(kScaleY, featherScaleY),
                       ParamHandler::makeParam(kFloor, floor),
                       ParamHandler::makeParam(kThreshold, threshold)},
                      &rectangle,
                      falloff);
}

void seamLabel(const Image& camera,
               const Image& feather,
               Image& label,
               int cameraIndex,
               float featherScaleX,
               float featherScaleY,
               float floor,
               float threshold,
               const Box& rectangle) {
    shortLaunch<3, 5>(kLabelProgram,
                      {&camera, &feather, &label},
                      {ParamHandler::makeParam(kCamera, float(cameraIndex)),
                       ParamHandler::makeParam(kScaleX, featherScaleX),
                       ParamHandler::makeParam(kScaleY, featherScaleY),
                       ParamHandler::makeParam(kFloor, floor),
                       ParamHandler::makeParam(kThreshold, threshold)},
                      &rectangle);
}

void seamLabelReduce(const Image& camera,
                     const Image& feather,
                     Image& label,
                     Image& level1,
                     int cameraIndex,
                     float featherScaleX,
                     float featherScaleY,
                     float floor,
                     float threshold,
                     const Box& rectangle,
                     float gaussian,
                     bool spherical,
                     const Image* falloff) {
    shortLaunch<4, 11>(kLabelReduceProgram,
                       {&camera, &feather, &label, &level1},
                       {ParamHandler::makeParam(kCamera, float(cameraIndex)),
                        ParamHandler::makeParam(kScaleX, featherScaleX),
                        ParamHandler::makeParam(kScaleY, featherScaleY),
                        ParamHandler::makeParam(kFloor, floor),
                        ParamHandler::makeParam(kThreshold, threshold),
                        ParamHandler::makeParam(kGaussian, gaussian),
                        ParamHandler::makeParam(kSpherical, spherical),
                        ParamHandler::makeParam(kRectangleX0, float(rectangle.x0)),
                        ParamHandler::makeParam(kRectangleY0, float(rectangle.y0)),
                        ParamHandler::makeParam(kRectangleX1, float(rectangle.x1)),
                        ParamHandler::makeParam(kRectangleY1, float(rectangle.y1))},
                       nullptr,
                       falloff);
}

void seamWeight(const Image& label, Image& weight, int cameraIndex, const Box& rectangle) {
    shortLaunch<2, 1>(kWeightProgram,
                      {&label, &weight},
                      {ParamHandler::makeParam(kCamera, float(cameraIndex))},
                      &rectangle);
}

void normalise(const Image& accumulator,
               const Image& label,
               Image& output,
               float threshold,
               bool expand,
               bool final) {
    shortLaunch<3, 3>(kNormaliseProgram,
                      {&accumulator, &label, &output},
                      {ParamHandler::makeParam(kThreshold, threshold),
                       ParamHandler::makeParam(kExpand, expand),
                       ParamHandler::makeParam(kFinal, final)},
                      nullptr);
}

void bandFill(const Image& coarser,
              Image& level,
              const Image& weight,
              Image& accumulator,
              const std::array<float, 3>& gain,
              float gaussian,
              bool spherical) {
    shortLaunch<4, 5>(kBandFillProgram,
                      {&coarser, &level, &weight, &accumulator},
                      {ParamHandler::makeParam(kGainR, gain[0]),
                       ParamHandler::makeParam(kGainG, gain[1]),
                       ParamHandler::makeParam(kGainB, gain[2]),
                       ParamHandler::makeParam(kGaussian, gaussian),
                       ParamHandler::makeParam(kSpherical, spherical)},
                      nullptr);
}

void bandZero(const Image& coarser,
              const Image& level,
              const Image& weight,
              Image& output,
              const std::array<float, 3>& gain,
              float gaussian,
              bool spherical,
              const Box& levelZero,
              const Box& rectangle,
              const Image* falloff) {
    shortLaunch<4, 7>(kBandZeroProgram,
                      {&coarser, &level, &weight, &output},
                      {ParamHandler::makeParam(kGainR, gain[0]),
                       ParamHandler::makeParam(kGainG, gain[1]),
                       ParamHandler::makeParam(kGainB, gain[2]),
                       ParamHandler::makeParam(kGaussian, gaussian),
                       ParamHandler::makeParam(kSpherical, spherical),
                       ParamHandler::makeParam(kOriginX, float(levelZero.x0)),
                       ParamHandler::makeParam(kOriginY, float(levelZero.y0))},
                      &rectangle,
                      falloff);
}

void collapseLevel(
    const Image& coarser, Image& accumulator, float threshold, float gaussian, bool spherical) {
    shortLaunch<2, 3>(kCollapseLevelProgram,
                      {&coarser, &accumulator},
                      {ParamHandler::makeParam(kThreshold, threshold),
                       ParamHandler::makeParam(kGaussian, gaussian),
                       ParamHandler::makeParam(kSpherical, spherical)},
                      nullptr);
}

void collapseFinal(const Image& coarser,
                   const Image& label,
                   Image& output,
                   float gaussian,
                   bool spherical,
                   bool expand) {
    shortLaunch<3, 3>(kCollapseFinalProgram,
                      {&coarser, &label, &output},
                      {ParamHandler::makeParam(kGaussian, gaussian),
                       ParamHandler::makeParam(kSpherical, spherical),
                       ParamHandler::makeParam(kExpand, expand)},
                      nullptr);
}

void align(const Image& camera,
           const Image& field,
           Image& output,
           float fieldScaleX,
           float fieldScaleY,
           const Box& rectangle) {
    shortLaunch<3, 2>(kAlignProgram,
                      {&camera, &field, &output},
                      {ParamHandler::makeParam(kScaleX, fieldScaleX),
                       ParamHandler::makeParam(kScaleY, fieldScaleY)},
                      &rectangle);
}

}  // namespace ImageStitcher
}  // namespace Kiln
