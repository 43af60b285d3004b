// SPDX-License-Identifier: Apache-2.0
#include "RenderTestImages.h"

#include "render/kernels/Resample.h"

namespace Korvane::Research::test {

Kiln::Image makeImage(int width,
                      int height,
                      int channels,
                      const std::function<float(int, int, int)>& fill,
                      int x0,
                      int y0) {
    Kiln::Info info;
    info.box = Kiln::Box{x0, y0, x0 + width, y0 + height};
    info.channels = channels;
    Kiln::Image image(info, nullptr);
    for (int y = y0; y < y0 + height; ++y)
        for (int x = x0; x < x0 + width; ++x)
            for (int c = 0; c < channels; ++c) pixel(image, x, y)[c] = fill(x, y, c);
    return image;
}

Kiln::Image constantImage(int width, int height, int channels, float value) {
    return makeImage(width, height, channels, [value](int, int, int) { return value; });
}

namespace {

template <class F, int C>
void sampleAll(const Kernels::SourceView& s, const Kiln::Image& positions, Kiln::Image& out) {
    for (int y = out.box().y0; y < out.box().y1; ++y)
        for (int x = out.box().x0; x < out.box().x1; ++x) {
            const float* p = pixel(positions, x, y);
            float* o = pixel(out, x, y);
            if (!Kernels::samplePixel<F, C>(s, p[0], p[1], o))
                for (int c = 0; c < C; ++c) o[c] = 0.0f;
        }
}

template <class F>
void sampleAll(const Kernels::SourceView& s, const Kiln::Image& positions, Kiln::Image& out) {
    switch (out.channels()) {
        case 1:
            return sampleAll<F, 1>(s, positions, out);
        case 2:
            return sampleAll<F, 2>(s, positions, out);
        case 3:
            return sampleAll<F, 3>(s, positions, out);
        default:
            return sampleAll<F, 4>(s, positions, out);
    }
}

}  // namespace

Kiln::Image pointSampled(Kernels::Filter filter,
                         const Kiln::Image& source,
                         const Kiln::Image& positions,
                         int width,
                         int height,
                         bool wrap) {
    const Kiln::Compute::KernelImage image{
        static_cast<unsigned char*>(source.origin()), source.rowBytes(), source.box()};
    const Kernels::SourceView s(image, width, height, wrap);
    Kiln::Info info;
    info.box = positions.box();
    info.channels = source.channels();
    Kiln::Image out(info, nullptr);
    switch (filter) {
        case Kernels::Filter::Bilinear:
            sampleAll<Kernels::BilinearFilter>(s, positions, out);
            break;
        case Kernels::Filter::Cubic:
            sampleAll<Kernels::CubicFilter>(s, positions, out);
            break;
        case Kernels::Filter::Lanczos:
            sampleAll<Kernels::LanczosFilter>(s, positions, out);
            break;
        default:
            sampleAll<Kernels::NearestFilter>(s, positions, out);
            break;
    }
    return out;
}

}  // namespace Korvane::Research::test
