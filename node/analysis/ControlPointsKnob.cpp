// SPDX-License-Identifier: Apache-2.0
#include "analysis/ControlPointsKnob.h"

#include <ostream>

#include "common/TextTokens.h"
#include "px/image/Node.h"

namespace Korvane {
namespace Research {

namespace {

void writeMatch(std::ostream& os, const FeatureTrack& track, bool defaultFormat) {
    std::string text = "  " + std::to_string(track.getFeatures().size()) + ' ';
    auto value = [&](double v) {
        appendNumber(text, os, defaultFormat, v);
        text += ' ';
    };
    for (const FeatureTrack::Observation& o : track.getFeatures()) {
        text += std::to_string(o.first) + ' ';
        value(o.second.getPosition().x());
        value(o.second.getPosition().y());
    }
    text += track.getIsUserTrack() ? "1 " : "0 ";
    for (int c = 0; c < 3; ++c) value(track.getColour()[c]);
    const Point& point = track.getPoint();
    if (point.getIsValid()) {
        value(point.getRMSE());
        for (int c = 0; c < 3; ++c) value(point.getPosition()[c]);
    } else {
        text += "-1 0 0 0 ";
    }
    text += '\n';
    os.write(text.data(), std::streamsize(text.size()));
}

}  // namespace

ControlPointsKnob::ControlPointsKnob(PX::Image::Node* node, const std::string& name)
    : Knob(node, name, "") {}

ControlPointsKnob::~ControlPointsKnob() = default;

void ControlPointsKnob::append(PX::Image::Hash& hash, const PX::Image::OutputContext*) const {
    for (const auto& entry : m_tracks) hash.append(int(entry.second->getTracks().size()));
}

bool ControlPointsKnob::to_script(std::ostream& os,
                                  const PX::Image::OutputContext*,
                                  bool quote) const {
    if (quote) os << "\"\n";
    const bool defaultFormat = hasDefaultNumberFormat(os);
    os << "version 2\nframes " << m_tracks.size() << '\n';
    for (const auto& entry : m_tracks) {
        const std::vector<FeatureTrack>& tracks = entry.second->getTracks();
        os << "Frame " << entry.first << " tracks " << tracks.size() << '\n';
        for (const FeatureTrack& track : tracks) writeMatch(os, track, defaultFormat);
    }
    if (m_incomplete) os << kIncompleteMark << '\n';
    if (quote) os << '"';
    return true;
}

bool ControlPointsKnob::fail(const std::string& why) {
    setError("knob '" + name() + "': " + why);
    return false;
}

bool ControlPointsKnob::failKeeping(const std::string& why) {
    m_incomplete = true;
    size_t matches = 0;
    for (const auto& entry : m_tracks) matches += entry.second->getTracks().size();
    followState();
    return fail(why + "; the store keeps what was read before: " + std::to_string(m_tracks.size()) +
                " key(s) with " + std::to_string(matches) + " match(es), and a save marks it " +
                kIncompleteMark);
}

void ControlPointsKnob::followState() {
    if (PX::Image::Knob* state = node() ? node()->knob("isMatched") : nullptr)
        state->from_script(hasMatches() ? "true" : "false");
}

bool ControlPointsKnob::from_script(const char* text) {
    TextTokens in(text ? text : "");
    if (in.atEnd()) {
        m_tracks.clear();
        changed();
        return true;
    }
    int version = 0, frames = 0;
    if (!in.expect("version") || !in.integer(version) || (version != 1 && version != 2))
        return fail("expected \"version 1\" or \"version 2\"");
    if (!in.expect("frames") || !in.integer(frames) || frames < 0 || frames > kMaxFrames)
        return fail("expected \"frames\" and a count from 0 to " + std::to_string(kMaxFrames));

    m_tracks.clear();
    for (int n = 0; n < frames; ++n) {
        const std::string block = "frame block " + std::to_string(n + 1) + ": ";
        int frame = 0, count = 0;
        if (!in.expect("Frame") || !in.integer(frame) || !in.expect("tracks") ||
            !in.integer(count) || count < 0 || count > kMaxTracks)
            return failKeeping(block +
                               "expected \"Frame <frame> tracks <count>\", count from 0 to " +
                               std::to_string(kMaxTracks));
        std::vector<FeatureTrack>& tracks = cameraTrackAt(frame).getTracks();
        for (int t = 0; t < count; ++t) {
            const std::string match = block + "match " + std::to_string(t + 1) + ": ";
            int observations = 0;
            if (!in.integer(observations) || observations < 0 || observations > kMaxObservations)
                return failKeeping(match + "expected an observation count from 0 to " +
                                   std::to_string(kMaxObservations));
            FeatureTrack track;
            for (int o = 0; o < observations; ++o) {
                int camera = 0;
                Eigen::Vector2d position;
                if (!in.integer(camera) || !in.number(position.x()) || !in.number(position.y()))
                    return failKeeping(match + "expected \"<camera> <x> <y>\"");
                if (camera < 0 || camera >= kMaxCameras)
                    return failKeeping(match + "camera " + std::to_string(camera) +
                                       " outside 0 to " + std::to_string(kMaxCameras - 1));
                track.getFeatures().emplace_back(camera, Feature(position));
            }
            if (version == 2) {
                int user = 0;
                Eigen::Vector3d colour, position;
                double rmse = 0.0;
                if (!in.integer(user) || !in.number(colour.x()) || !in.number(colour.y()) ||
                    !in.number(colour.z()) || !in.number(rmse) || !in.number(position.x()) ||
                    !in.number(position.y()) || !in.number(position.z()))
                    return failKeeping(match + "expected the user flag, colour and point");
                track.setUserTrack(user == 1);
                track.setColour(colour);
                track.setPoint(Point(position, rmse));
            }
            tracks.push_back(std::move(track));
        }
    }
    const StoreTail tail = readStoreTail(in);
    if (tail == StoreTail::Extra)
        return failKeeping("the count says " + std::to_string(frames) +
                           " frame block(s) but more text follows");
    // A store saved after a failed read lacks what is unknown: it stays incomplete, and a
    // load (not an undo or redo) says so again.
    m_incomplete = tail == StoreTail::IncompleteMark;
    if (m_incomplete) followState();
    changed();
    return !m_incomplete || doingUndoRedo() ||
           fail(
               "saved from an incomplete read: matches of some keys may be missing; the store "
               "keeps the " +
               std::to_string(m_tracks.size()) + " key(s) it holds; Match again to complete it");
}

CameraTrack& ControlPointsKnob::cameraTrackAt(int frame) {
    std::unique_ptr<CameraTrack>& track = m_tracks[frame];
    if (!track) track = std::make_unique<CameraTrack>(frame);
    return *track;
}

const CameraTrack* ControlPointsKnob::findCameraTrack(int frame) const {
    const auto it = m_tracks.find(frame);
    return it == m_tracks.end() ? nullptr : it->second.get();
}

std::vector<int> ControlPointsKnob::frames() const {
    std::vector<int> out;
    for (const auto& entry : m_tracks) out.push_back(entry.first);
    return out;
}

void ControlPointsKnob::clearCameraTracks() {
    add_to_undo();
    m_tracks.clear();
    m_incomplete = false;
    stop_add_to_undo();
    changed();
}

bool ControlPointsKnob::hasMatches() const {
    for (const auto& [frame, record] : m_tracks)
        if (!record->getTracks().empty()) return true;
    return false;
}

double ControlPointsKnob::matchError() const {
    if (m_tracks.empty()) return 0.0;
    double sum = 0.0;
    for (const auto& [frame, record] : m_tracks) {
        const std::vector<FeatureTrack>& matches = record->getTracks();
        if (matches.empty()) continue;
        double recordSum = 0.0;
        for (const FeatureTrack& match : matches) recordSum += match.getPoint().getRMSE();
        sum += recordSum / double(matches.size());
    }
    return sum / double(m_tracks.size());
}

}  // namespace Research
}  // namespace Korvane
