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
            if (!Kernels::samplePixel<F, C>(s, p[0], p[1], pixel(out, x, y)))
                std::fill_n(pixel(out, x, y), C, 0.0f);
        }
}

template <class F>
void sampleAll(const Kernels::SourceView& s, const Kiln::Image& positions, Kiln::Image& out) {
    const decltype(&sampleAll<F, 1>) byChannels[] = {
        &sampleAll<F, 1>, &sampleAll<F, 2>, &sampleAll<F, 3>, &sampleAll<F, 4>};
    byChannels[out.channels() - 1](s, positions, out);
}

}  // namespace

Kiln::Image pointSampled(Kernels::Filter filter,
                         const Kiln::Image& source,
                         const Kiln::Image& positions,
                         int width,
                         int height,
                         bool wrap) {
    const Kernels::SourceView s(
        {source.origin(), source.rowBytes(), source.box()}, width, height, wrap);
    Kiln::Image out(Kiln::Info{positions.box(), source.channels()}, nullptr);
    const decltype(&sampleAll<Kernels::NearestFilter>) byFilter[] = {
        &sampleAll<Kernels::BilinearFilter>,
        &sampleAll<Kernels::CubicFilter>,
        &sampleAll<Kernels::LanczosFilter>,
        &sampleAll<Kernels::NearestFilter>};
    byFilter[int(filter)](s, positions, out);
    return out;
}

}  // namespace Korvane::Research::test
