// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <stdexcept>

#include "px/image/Iop.h"
#include "vellacam/FeatureImageSource.h"

namespace Korvane {
namespace Research {

namespace {

using namespace PX::Image;

/// The inputs of an image operator, fetched in the context the operator gives each input,
/// with the operator's frame set to the one asked for while it lasts.
class OpImageSource : public FeatureImageSource {
public:
    explicit OpImageSource(Iop* op) : m_op(op) {}

    bool getImage(int input, int frame, FeatureImage* image) override {
        *image = FeatureImage();
        if (input < 0 || input >= m_op->inputs()) return false;
        const OutputContext saved = m_op->outputContext();
        OutputContext context = saved;
        context.setFrame(frame);
        m_op->setOutputContext(context);
        const bool ok = fetch(input, image);
        m_op->setOutputContext(saved);
        if (!ok) *image = FeatureImage();
        return ok;
    }

    void warning(const std::string& text) override { m_op->progressMessage("Warning: " + text); }

private:
    bool fetch(int input, FeatureImage* image) {
        Iop* in = m_op->validateInput(input);
        if (!in || !in->valid() || !in->info().channels().contains(Mask_RGB)) return false;
        const Format& format = in->info().format();
        const Box box = in->info().box();
        if (format.width() <= 0 || format.height() <= 0) return false;
        const ImagePlane plane = m_op->fetchInput(input, box, Mask_RGB);
        if (!plane.hasBuffer()) return false;

        image->width = format.width();
        image->height = format.height();
        image->pixels.assign(size_t(image->width) * size_t(image->height), 0.0f);
        const int r = plane.chanNo(Chan_Red), g = plane.chanNo(Chan_Green),
                  b = plane.chanNo(Chan_Blue);
        const int x0 = std::max(box.x(), 0), x1 = std::min(box.r(), image->width);
        const int y0 = std::max(box.y(), 0), y1 = std::min(box.t(), image->height);
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                image->pixels[size_t(y) * size_t(image->width) + size_t(x)] =
                    0.2126f * plane.at(x, y, r) + 0.7152f * plane.at(x, y, g) +
                    0.0722f * plane.at(x, y, b);
        return true;
    }

    Iop* m_op;
};

}  // namespace

std::unique_ptr<FeatureImageSource> MakeOpImageSource(PX::Image::Op* op) {
    auto* iop = dynamic_cast<Iop*>(op);
    if (!iop) throw std::invalid_argument("MakeOpImageSource needs an image operator");
    return std::make_unique<OpImageSource>(iop);
}

}  // namespace Research
}  // namespace Korvane
