// SPDX-License-Identifier: Apache-2.0
#include "viewer/ZoomWindowSettings.h"

#include <vector>

#include "px/image/ArrayKnob.h"
#include "px/image/EnumerationKnob.h"
#include "px/image/KnobCallback.h"

namespace Korvane {
namespace Research {

using namespace PX::Image;

namespace {

// Entries written "index<tab>label".
std::vector<std::string> indexed(const std::vector<std::string>& labels) {
    std::vector<std::string> entries;
    for (size_t i = 0; i < labels.size(); ++i)
        entries.push_back(std::to_string(i) + "\t" + labels[i]);
    return entries;
}

}  // namespace

void ZoomWindowSettings::knobs(KnobCallback& f) {
    f.make<EnumerationKnob>(m_prefix + "zoomWindowBehaviour",
                            "Show Zoom Window",
                            indexed({"always",
                                     "on track move",
                                     "when tracking",
                                     "when tracking or track change",
                                     "never"}),
                            &m_behaviour)
        ->tooltip("Indicate when the zoom window should be displayed in the Viewer.");
    f.make<EnumerationKnob>(m_prefix + "zoomWindowSize",
                            "Zoom Size/Mag.",
                            indexed({"50px", "100px", "200px", "custom"}),
                            &m_size)
        ->tooltip(
            "Specify the size and magnification of the zoom window to be displayed in the "
            "Viewer.");
    f.make<EnumerationKnob>(m_prefix + "zoomMagnificationSize",
                            "",
                            indexed({"x1", "x2", "x4", "x8", "x16", "custom"}),
                            &m_magnification)
        ->tooltip(
            "Magnify the zoom window, the zoom ratio is relative to the window, not the "
            "image.<p>Use Shift+Drag within the zoom window to quickly change magnification "
            "for very-fine scale adjustments.");
    f.make<EnumerationKnob>(m_prefix + "zoomWindowFilterBehaviour",
                            "Zoom Window Filter",
                            indexed({"always", "on playback", "never"}),
                            &m_filter)
        ->tooltip(
            "Indicates when the zoom window image should be filtered. A filtered image gives "
            "a visually more stable track, particularly during playback.");
    auto* size =
        f.make<ArrayKnob>(m_prefix + "zoomWindowWHSize",
                          "Zoom W/H Size",
                          ArrayKnob::Kind::Int,
                          std::vector<double>{double(m_customSize[0]), double(m_customSize[1])},
                          [this](const std::vector<double>& v) {
                              m_customSize[0] = int(v[0]);
                              m_customSize[1] = int(v[1]);
                          });
    size->setClassName("WH_Knob");
    size->setRange(8, 4096);
    Float_knob(f, &m_customMagnification, m_prefix + "zoomMagnification", "Zoom Magnification")
        ->setRange(0.25, 64);
}

bool ZoomWindowSettings::filtered(bool playing) const {
    switch (filter()) {
        case Filter::Always:
            return true;
        case Filter::OnPlayback:
            return playing;
        case Filter::Never:
            return false;
    }
    return false;
}

}  // namespace Research
}  // namespace Korvane
