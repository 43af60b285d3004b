// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace PX {
namespace Image {
class Op;
}  // namespace Image
}  // namespace PX

namespace Korvane {
namespace Research {

/// One camera image for feature detection: a single channel of luminance, as the footage holds
/// it (linear or display-encoded; TrackFeatures normalises the contrast itself). Rows run from
/// the bottom up, like every image position in the library: pixel (i, j) is
/// pixels[j * width + i] and has its centre at (i + 0.5, j + 0.5).
struct FeatureImage {
    int width = 0;
    int height = 0;
    std::vector<float> pixels;

    bool empty() const { return width <= 0 || height <= 0; }
    float at(int i, int j) const { return pixels[size_t(j) * size_t(width) + size_t(i)]; }
};

/// Where TrackFeatures gets its camera images from, one call per camera, on the caller's
/// thread. The node hands its operator's inputs (MakeOpImageSource); tests and benchmarks
/// hand images they made or read from files. Keeping the host's planes behind this interface
/// lets the matcher run without a host.
class FeatureImageSource {
public:
    virtual ~FeatureImageSource() = default;
    /// The image of input `input` at `frame`; false when there is none (the input is missing,
    /// failed or holds no colour), and `image` is then left empty.
    virtual bool getImage(int input, int frame, FeatureImage* image) = 0;
    /// Something the user should know that does not stop the work (a camera left out).
    virtual void warning(const std::string& text) {}
};

/// Reads the inputs of a host operator: input k at `frame` in the context the operator gives
/// input k, RGB turned into Rec. 709 luminance. Warnings go to the host as progress messages
/// that start with "Warning: ". Must be used on the thread that runs the operator's
/// executable (the host's main thread); `op` must be an image operator and outlive the source.
/// Throws std::invalid_argument for a null or non-image operator.
std::unique_ptr<FeatureImageSource> MakeOpImageSource(PX::Image::Op* op);

}  // namespace Research
}  // namespace Korvane
