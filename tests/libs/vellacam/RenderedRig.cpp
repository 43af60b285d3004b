// SPDX-License-Identifier: Apache-2.0
#include "RenderedRig.h"

#include "RowPool.h"
#include "SyntheticRig.h"
#include "vellacam/SphericalTransform.h"

namespace MatchingTests {

using namespace Korvane;

const RenderedRig& RenderedRig::get() {
    static const RenderedRig rendered = [] {
        MakeRig::RigOptions options;
        options.cameras = 4;
        options.width = 320;
        options.height = 240;
        options.frames = 1;
        return render(options);
    }();
    return rendered;
}

const MakeRig::RenderedView& RenderedRig::panorama() {
    static const MakeRig::RenderedView rendered = [] {
        const MakeRig::RowPool pool(0);
        Research::CameraDefinition pano;
        pano.setFormat(512, 256);
        pano.setProjection(Research::ProjectionTypeEnum::Latlong);
        return MakeRig::ViewRenderer(Research::SphericalTransform(pano), pool)
            .render(get().scene, pool);
    }();
    return rendered;
}

RenderedRig RenderedRig::render(const MakeRig::RigOptions& options) {
    RenderedRig r;
    r.options = options;
    const MakeRig::SyntheticRig synthetic(r.options);
    r.rig = synthetic.definition();
    r.scene = MakeRig::Scene::build(r.options.seed).atFrame(r.options.first);
    const MakeRig::RowPool pool(0);
    for (int c = 0; c < r.rig.getNumberCameras(); ++c) {
        Research::SphericalTransform transform(r.rig.getCamera(c));
        transform.setConvergenceDepth(synthetic.convergence());
        r.views.push_back(MakeRig::ViewRenderer(transform, pool).render(r.scene, pool));
        r.images.push_back(luminance(r.views.back()));
    }
    return r;
}

Research::FeatureImage RenderedRig::luminance(const MakeRig::RenderedView& view) {
    Research::FeatureImage image;
    image.width = view.width;
    image.height = view.height;
    image.pixels.resize(size_t(view.width) * view.height);
    for (int row = 0; row < view.height; ++row)
        for (int i = 0; i < view.width; ++i) {
            const float* p = &view.rgb[(size_t(row) * view.width + i) * 3];
            image.pixels[size_t(view.height - 1 - row) * view.width + i] =
                0.2126f * p[0] + 0.7152f * p[1] + 0.0722f * p[2];
        }
    return image;
}

}  // namespace MatchingTests
