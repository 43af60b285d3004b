// SPDX-License-Identifier: Apache-2.0
// A small plug-in the SDK tests load with dlopen: a source operator that renders a ramp.

#include "base/Exception.h"
#include "px/image/Iop.h"
#include "px/image/KnobCallback.h"

using namespace PX::Image;

namespace {

class TestGradient : public PlanarIop {
public:
    explicit TestGradient(Node* node) : PlanarIop(node) {}
    const char* Class() const override { return "TestGradient"; }
    int minimum_inputs() const override { return 0; }
    int maximum_inputs() const override { return 0; }

    void knobs(KnobCallback& f) override {
        Int_knob(f, &m_width, "width", "Width")->setRange(1, 4096);
        Double_knob(f, &m_gain, "gain", "Gain");
    }

    void _validate(bool) override {
        info_().set(Box(0, 0, m_width, 2));
        info_().channels(Mask_RGBA);
        info_().format(Format(m_width, 2));
    }

    // Pixel (x, y) has red = x * gain, green = y; a negative gain is a user error.
    void renderPlane(ImagePlane& plane) override {
        if (m_gain < 0) throw Korvane::Base::MessageException("gain must not be negative");
        const Box& b = plane.bounds();
        for (int y = b.y(); y < b.t(); ++y)
            for (int x = b.x(); x < b.r(); ++x) {
                *plane.writableAt(x, y, plane.chanNo(Chan_Red)) = float(x * m_gain);
                *plane.writableAt(x, y, plane.chanNo(Chan_Green)) = float(y);
            }
    }

    static const Description d;

private:
    int m_width = 4;
    double m_gain = 1.0;
};

Op* build(Node* node) { return new TestGradient(node); }

}  // namespace

const Op::Description TestGradient::d("TestGradient", build, "test build");
