// SPDX-License-Identifier: Apache-2.0
#include "slib/ImagePyramids/GaussianImagePyramidFactory.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "kernels/PyramidKernels.h"
#include "kiln/ExplicitLaunch.h"

namespace Korvane {
namespace SLIB {
namespace ImagePyramids {
namespace {

using Kiln::Compute::KernelExecutionContext;
using Kiln::Compute::ProgramSource;
using Kiln::Compute::RunExplicit;
using Kiln::Compute::WriteScalar;

// The wrappers launch the speed-optimised variants: pyramids run over every camera of a frame.
constexpr unsigned kFlags = 19;

const ProgramSource kReduceProgram(nullptr, 0, 0, Kernels::kPyramidReduceId);
const ProgramSource kExpandProgram(nullptr, 0, 0, Kernels::kPyramidExpandId);

Kiln::Image like(const Kiln::Image& image, const Kiln::Box& box) {
    Kiln::Info info = image.info();
    info.box = box;
    return Kiln::Image(info, image.device());
}

}  // namespace

void GaussianImagePyramidFactory::setLevelScale(float scale) {
    const float s = scale > 1.0f ? 1.0f / scale : scale;
    if (s != 0.5f)
        throw std::invalid_argument("image pyramids halve their levels; level scale " +
                                    std::to_string(scale) + " is not built");
    m_levelScale = s;
}

void GaussianImagePyramidFactory::setSmallestLevelSize(int size) {
    m_smallestLevelSize = std::max(1, size);
}

void GaussianImagePyramidFactory::setGaussian(float sigma) {
    if (!(sigma > 0.0f) || !std::isfinite(sigma))
        throw std::invalid_argument("pyramid Gaussian must be positive, got " +
                                    std::to_string(sigma));
    m_gaussian = sigma;
}

std::vector<Kiln::Box> GaussianImagePyramidFactory::levelBoxes(const Kiln::Box& base) const {
    std::vector<Kiln::Box> boxes{base};
    while (true) {
        const Kiln::Box& b = boxes.back();
        const int nw = (b.width() + 1) / 2;
        const int nh = (b.height() + 1) / 2;
        if (std::min(nw, nh) < m_smallestLevelSize || (nw == b.width() && nh == b.height())) break;
        const int x0 = b.x0 >> 1;
        const int y0 = b.y0 >> 1;
        boxes.push_back({x0, y0, x0 + nw, y0 + nh});
    }
    return boxes;
}

void GaussianImagePyramidFactory::reduce(const Kiln::Image& fine, Kiln::Image& coarse) const {
    RunExplicit(kReduceProgram, kFlags, {&fine, &coarse}, [&](KernelExecutionContext& context) {
        WriteScalar(context, Kernels::kPyramidGaussian, m_gaussian);
        WriteScalar(context, Kernels::kPyramidSpherical, m_spherical);
    });
}

void GaussianImagePyramidFactory::expand(const Kiln::Image& coarse,
                                         const Kiln::Image& base,
                                         Kiln::Image& output,
                                         float baseFactor,
                                         float expandFactor) const {
    RunExplicit(
        kExpandProgram, kFlags, {&coarse, &base, &output}, [&](KernelExecutionContext& context) {
            WriteScalar(context, Kernels::kPyramidGaussian, m_gaussian);
            WriteScalar(context, Kernels::kPyramidSpherical, m_spherical);
            WriteScalar(context, Kernels::kPyramidBaseFactor, baseFactor);
            WriteScalar(context, Kernels::kPyramidExpandFactor, expandFactor);
        });
}

std::vector<Kiln::Box> GaussianImagePyramidFactory::levelBoxes(const Kiln::Box& base,
                                                               int levels) const {
    std::vector<Kiln::Box> boxes{base};
    for (int k = 1; k < levels; ++k) {
        const Kiln::Box& b = boxes.back();
        const int x0 = b.x0 >> 1;
        const int y0 = b.y0 >> 1;
        boxes.push_back({x0, y0, x0 + (b.width() + 1) / 2, y0 + (b.height() + 1) / 2});
    }
    return boxes;
}

ImagePyramid GaussianImagePyramidFactory::buildGaussian(const Kiln::Image& base) const {
    return buildGaussian(base, int(levelBoxes(base.box()).size()));
}

ImagePyramid GaussianImagePyramidFactory::buildGaussian(const Kiln::Image& base,
                                                        int levelCount) const {
    const std::vector<Kiln::Box> boxes = levelBoxes(base.box(), levelCount);
    ImagePyramid levels{base};
    for (std::size_t k = 1; k < boxes.size(); ++k) {
        levels.push_back(like(base, boxes[k]));
        reduce(levels[k - 1], levels[k]);
    }
    return levels;
}

ImagePyramid GaussianImagePyramidFactory::buildLaplacian(const Kiln::Image& base) const {
    ImagePyramid levels = buildGaussian(base);
    // Level 0 shares the caller's pixels; the Laplacian goes into an image of its own.
    if (levels.size() > 1) {
        Kiln::Image first = like(base, base.box());
        expand(levels[1], base, first, 1.0f, -1.0f);
        levels[0] = first;
    }
    for (std::size_t k = 1; k + 1 < levels.size(); ++k)
        expand(levels[k + 1], levels[k], levels[k], 1.0f, -1.0f);
    return levels;
}

void GaussianImagePyramidFactory::collapse(ImagePyramid& laplacian, Kiln::Image& output) const {
    if (laplacian.empty()) throw std::invalid_argument("collapse: the pyramid has no levels");
    for (std::size_t k = laplacian.size() - 1; k-- > 1;)
        expand(laplacian[k + 1], laplacian[k], laplacian[k], 1.0f, 1.0f);
    if (laplacian.size() > 1)
        expand(laplacian[1], laplacian[0], output, 1.0f, 1.0f);
    else
        output.copyFrom(laplacian[0]);
}

}  // namespace ImagePyramids
}  // namespace SLIB
}  // namespace Korvane
