// SPDX-License-Identifier: Apache-2.0
#include "WarpQuality.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "analysis/GridMapKnob.h"
#include "analysis/WarpInverse.h"
#include "plugin/DizuvaRuviPlugin.h"

namespace Korvane {
namespace Research {

namespace {
constexpr int kPanoramaWidth = 2048;
constexpr int kPanoramaHeight = 1024;
}  // namespace

MisalignmentFigures MisalignmentFigures::of(std::vector<double> values) {
    MisalignmentFigures f;
    f.points = values.size();
    if (values.empty()) return f;
    std::sort(values.begin(), values.end());
    auto at = [&](double q) { return values[size_t(q * double(values.size() - 1) + 0.5)]; };
    f.median = at(0.5);
    f.p90 = at(0.9);
    return f;
}

std::string truthPointsPath(const std::string& truthDir, int frame) {
    char name[32];
    std::snprintf(name, sizeof name, "points.%04d.json", frame);
    return truthDir + "/" + name;
}

std::vector<FeatureTrack> readTruthMatches(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error(path + ": cannot be opened");
    nlohmann::json doc;
    try {
        in >> doc;
    } catch (const nlohmann::json::exception& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
    std::vector<FeatureTrack> matches;
    try {
        for (const auto& point : doc.at("points")) {
            FeatureTrack match;
            for (const auto& o : point.at("observations")) {
                const auto& image = o.at("image");
                match.getFeatures().emplace_back(
                    o.at("camera").get<int>() - 1,
                    Feature(Eigen::Vector2d(image.at(0).get<double>(), image.at(1).get<double>())));
            }
            const auto& world = point.at("world");
            match.setPoint(Point(Eigen::Vector3d(world.at(0).get<double>(),
                                                 world.at(1).get<double>(),
                                                 world.at(2).get<double>()),
                                 0.0));
            if (match.getFeatures().size() >= 2) matches.push_back(std::move(match));
        }
    } catch (const nlohmann::json::exception& e) {
        throw std::runtime_error(path + ": not a truth points file: " + e.what());
    }
    return matches;
}

void measureWarpQuality(DizuvaRuviPlugin& node,
                        int frame,
                        const std::vector<FeatureTrack>& truth,
                        WarpQualityReport& report) {
    RigContext& rig = node.rigContext();
    rig.reloadRig(true);
    if (rig.numberOfCameras() == 0)
        throw std::runtime_error(
            "the node's input carries no rig: check the rig file of the source (Read node "
            "'rig')");
    // The grids are right at the depth they were solved at: measured there when the script
    // records it. Otherwise at the depth the node renders at: with "Auto" on it follows the rig,
    // as the node's validation does. Read from the live knob: a loaded script has stored nothing
    // into the node's members.
    node.knobManager().followRigConvergence(rig.rigConvergence());
    const GridMapKnob* store = node.knobManager().gridMap();
    report.renderDepth = node.knobManager().convergenceDepth();
    report.atSolvedDepth = store && std::isfinite(store->solvedDepth());
    report.depth = report.atSolvedDepth ? store->solvedDepth() : report.renderDepth;
    std::vector<SphericalTransform> transforms = rig.cameraTransforms(report.depth);
    for (SphericalTransform& t : transforms) t.setOutputImageSize(kPanoramaWidth, kPanoramaHeight);

    std::map<int, WarpInverse> grids;
    for (int c = 0; store && c < rig.numberOfCameras(); ++c) {
        const auto grid = store->getGrid(frame, rig.viewOfCamera(c));
        const CameraDefinition& camera = rig.rig().getCamera(c);
        if (grid)
            grids.emplace(c, WarpInverse(*grid, camera.getFormatWidth(), camera.getFormatHeight()));
    }
    for (const FeatureTrack& point : truth) {
        const auto before = matchMisalignment(point, {}, transforms);
        const auto after = matchMisalignment(point, grids, transforms);
        if (!before || !after) continue;
        report.unwarped.push_back(*before);
        report.warped.push_back(*after);
        const Eigen::Vector3d& P = point.getPoint().getPosition();
        for (const auto& [camera, feature] : point.getFeatures()) {
            if (camera < 0 || camera >= int(transforms.size())) continue;
            SphericalTransform atDepth = transforms[size_t(camera)];
            atDepth.setConvergenceDepth(P.norm());
            Eigen::Vector2d image, truthIdeal, before, after;
            const auto grid = grids.find(camera);
            const std::optional<Eigen::Vector2d> warped =
                grid != grids.end() ? grid->second.warpedPosition(feature.getPosition())
                                    : std::optional<Eigen::Vector2d>(feature.getPosition());
            if (!atDepth.ProjectFromWorld(P, &image) ||
                !atDepth.ProjectToIdeal(image, ProjectionTypeEnum::Latlong, &truthIdeal) ||
                !warped ||
                !transforms[size_t(camera)].ProjectToIdeal(
                    feature.getPosition(), ProjectionTypeEnum::Latlong, &before) ||
                !transforms[size_t(camera)].ProjectToIdeal(
                    *warped, ProjectionTypeEnum::Latlong, &after))
                continue;
            const auto offset = [&](Eigen::Vector2d p) {
                p.x() -= kPanoramaWidth * std::round((p.x() - truthIdeal.x()) / kPanoramaWidth);
                return (p - truthIdeal).norm();
            };
            report.unwarpedOffset.push_back(offset(before));
            report.warpedOffset.push_back(offset(after));
        }
    }
}

std::optional<double> matchMisalignment(const FeatureTrack& match,
                                        const std::map<int, WarpInverse>& grids,
                                        const std::vector<SphericalTransform>& transforms) {
    std::vector<std::pair<Eigen::Vector2d, double>> ideal;  // position, ideal image width
    for (const auto& [camera, feature] : match.getFeatures()) {
        if (camera < 0 || camera >= int(transforms.size())) continue;
        std::optional<Eigen::Vector2d> q = feature.getPosition();
        const auto grid = grids.find(camera);
        if (grid != grids.end()) q = grid->second.warpedPosition(*q);
        Eigen::Vector2d p;
        if (q && transforms[size_t(camera)].ProjectToIdeal(*q, ProjectionTypeEnum::Latlong, &p))
            ideal.emplace_back(p, double(transforms[size_t(camera)].getOutputWidth()));
    }
    if (ideal.size() < 2) return std::nullopt;
    // Longitudes are brought next to the first observation's before the mean is taken.
    const Eigen::Vector2d first = ideal.front().first;
    Eigen::Vector2d mean = Eigen::Vector2d::Zero();
    for (auto& [p, width] : ideal) {
        if (p.x() - first.x() > width / 2) p.x() -= width;
        if (p.x() - first.x() < -width / 2) p.x() += width;
        mean += p;
    }
    mean /= double(ideal.size());
    double sum = 0.0;
    for (const auto& [p, width] : ideal) sum += (p - mean).squaredNorm();
    return std::sqrt(sum / double(ideal.size()));
}

}  // namespace Research
}  // namespace Korvane
