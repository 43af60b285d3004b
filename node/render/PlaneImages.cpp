// SPDX-License-Identifier: Apache-2.0
#include "render/PlaneImages.h"

#include "px/image/ImagePlane.h"

namespace Korvane {
namespace Research {
namespace PlaneImages {

using PX::Image::Channel;
using PX::Image::ImagePlane;

Kiln::Box toKiln(const PX::Image::Box& box) { return {box.x(), box.y(), box.r(), box.t()}; }

Kiln::Image fromPlane(const ImagePlane& plane,
                      const std::vector<Channel>& channels,
                      const Kiln::Box& box,
                      const Kiln::Compute::DevicePtr& device) {
    const int n = int(channels.size());
    Kiln::Image image(Kiln::Info{box, n}, device, {}, Kiln::Image::kClearOnAllocate);
    const Kiln::Box overlap = box.intersect(toKiln(plane.bounds()));
    if (overlap.empty() || !plane.hasBuffer()) return image;
    std::vector<int> from(size_t(n), -1);
    for (int i = 0; i < n; ++i) from[size_t(i)] = plane.chanNo(channels[size_t(i)]);
    const float* base = plane.readable();
    const std::ptrdiff_t rs = plane.rowStride(), cs = plane.colStride(), zs = plane.chanStride();
    for (int y = overlap.y0; y < overlap.y1; ++y) {
        float* out = reinterpret_cast<float*>(image.row(y)) + (overlap.x0 - box.x0) * n;
        const float* row = base + (y - plane.bounds().y()) * rs;
        for (int x = overlap.x0; x < overlap.x1; ++x, out += n) {
            const float* px = row + (x - plane.bounds().x()) * cs;
            for (int i = 0; i < n; ++i)
                if (from[size_t(i)] >= 0) out[i] = px[from[size_t(i)] * zs];
        }
    }
    return image;
}

void toPlane(const Kiln::Image& image, const std::vector<Channel>& channels, ImagePlane& plane) {
    const int n = image.channels();
    const Kiln::Box box = image.box();
    const Kiln::Box overlap = box.intersect(toKiln(plane.bounds()));
    if (overlap.empty()) return;
    float* base = plane.writable();
    const std::ptrdiff_t rs = plane.rowStride(), cs = plane.colStride(), zs = plane.chanStride();
    for (size_t i = 0; i < channels.size() && int(i) < n; ++i) {
        const int z = plane.chanNo(channels[i]);
        if (z < 0) continue;
        for (int y = overlap.y0; y < overlap.y1; ++y) {
            const float* in =
                reinterpret_cast<const float*>(image.row(y)) + (overlap.x0 - box.x0) * n + i;
            float* out = base + (y - plane.bounds().y()) * rs +
                         (overlap.x0 - plane.bounds().x()) * cs + z * zs;
            for (int x = overlap.x0; x < overlap.x1; ++x, in += n, out += cs) *out = *in;
        }
    }
}

std::vector<std::vector<Channel>> groupsOfFour(const PX::Image::ChannelSet& set) {
    std::vector<std::vector<Channel>> groups;
    for (Channel c : set) {
        if (groups.empty() || groups.back().size() == 4) groups.emplace_back();
        groups.back().push_back(c);
    }
    return groups;
}

}  // namespace PlaneImages
}  // namespace Research
}  // namespace Korvane
