// SPDX-License-Identifier: Apache-2.0
#include "RigGenerator.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <vector>

#include <OpenImageIO/imageio.h>

#include "CalibrationError.h"
#include "ImageWriter.h"
#include "MovingTarget.h"
#include "RowPool.h"
#include "Scene.h"
#include "SensorModel.h"
#include "SyntheticRig.h"
#include "TruthPoints.h"
#include "ViewRenderer.h"
#include "vellacam/SphericalTransform.h"

namespace Korvane {
namespace MakeRig {

using Korvane::Research::CameraDefinition;
using Korvane::Research::ProjectionTypeEnum;
using Korvane::Research::SphericalTransform;

std::string RigGenerator::framePath(const std::string& dir,
                                    const std::string& view,
                                    int frame,
                                    const std::string& ext) {
    char number[16];
    std::snprintf(number, sizeof(number), "%04d", frame);
    return (std::filesystem::path(dir) / (view + "." + number + "." + ext)).string();
}

void RigGenerator::run(std::ostream* log) const {
    const auto start = std::chrono::steady_clock::now();
    const RigOptions& o = m_options;
    const RowPool pool(o.threads);
    // OpenEXR compresses with its own threads; byte output does not depend on their number.
    OIIO::attribute("threads", pool.threads());
    OIIO::attribute("exr_threads", pool.threads());

    const std::string truthDir = (std::filesystem::path(o.outDir) / "truth").string();
    std::filesystem::create_directories(o.truth ? truthDir : o.outDir);

    const SyntheticRig rig(o);
    // rig.json is the rig as calibrated (exact unless calibration errors are asked for);
    // truth/rig.json the one the images are rendered with.
    SyntheticRig::writeRigFile(recordedRig(o, rig.definition()),
                               (std::filesystem::path(o.outDir) / "rig.json").string());
    if (o.truth) rig.writeRigFile((std::filesystem::path(truthDir) / "rig.json").string());
    const SensorModel sensor(o, rig.definition());

    Scene scene = Scene::build(o.seed);
    if (o.target) MovingTarget::addTo(scene, o.seed);
    std::vector<Scene> frames;
    for (int f = o.first; f < o.first + o.frames; ++f) frames.push_back(scene.atFrame(f));

    const auto& definition = rig.definition();
    for (int c = 0; c < definition.getNumberCameras(); ++c) {
        SphericalTransform transform(definition.getCamera(c));
        transform.setConvergenceDepth(rig.convergence());
        const ViewRenderer renderer(transform, pool);
        const std::string view = definition.getCamera(c).getOutputView();
        for (int k = 0; k < o.frames; ++k) {
            RenderedView image = renderer.render(frames[k], pool);
            sensor.apply(c, o.first + k, &image, pool);
            ImageWriter::writeColour(
                framePath(o.outDir, view, o.first + k, o.ext), image, ImageWriter::Precision::Half);
            if (o.truth)
                ImageWriter::writeDepth(framePath(truthDir, view + ".depth", o.first + k, "exr"),
                                        image);
        }
        if (log) *log << "make_rig: " << view << " done" << std::endl;
    }

    if (o.truth) {
        // The true panorama: a latlong view from the rig centre, in the rig frame.
        CameraDefinition pano;
        pano.setFormat(o.panoWidth, o.panoHeight);
        pano.setProjection(ProjectionTypeEnum::Latlong);
        pano.setOutputView("pano");
        SphericalTransform transform(pano);
        transform.setConvergenceDepth(rig.convergence());
        const ViewRenderer renderer(transform, pool);
        for (int k = 0; k < o.frames; ++k) {
            const RenderedView image = renderer.render(frames[k], pool);
            ImageWriter::writeColour(framePath(truthDir, "pano", o.first + k, "exr"),
                                     image,
                                     ImageWriter::Precision::Float);
            ImageWriter::writeDepth(framePath(truthDir, "pano.depth", o.first + k, "exr"), image);
        }
        if (log) *log << "make_rig: panorama done" << std::endl;

        const TruthPoints points(scene, definition, o.points, o.seed, o.first, rig.pixelAngle());
        for (int k = 0; k < o.frames; ++k)
            TruthPoints::write(framePath(truthDir, "points", o.first + k, "json"),
                               o.first + k,
                               frames[k],
                               points.atFrame(frames[k]));
        if (log) *log << "make_rig: truth points done" << std::endl;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (log)
        *log << "make_rig: wrote " << definition.getNumberCameras() << " cameras x " << o.frames
             << " frames to " << o.outDir << " in " << seconds << " s on " << pool.threads()
             << " threads" << std::endl;
}

}  // namespace MakeRig
}  // namespace Korvane
