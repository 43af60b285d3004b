// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "viewer/ViewerEventKnob.h"

namespace Korvane {
namespace Research {

/// The Ctrl+Tab hot key of the viewer: toggles `rectilinearProjection` as a user's click on
/// it would (one undo step, then knob_changed, which switches the view projection between
/// "Rectilinear" and "Spherical"). It has no state of its own and takes events in every view.
class ToggleProjectionEventHandlerKnob : public ViewerEventKnob {
public:
    explicit ToggleProjectionEventHandlerKnob(PX::Image::Node* node);
    const char* Class() const override { return "ToggleProjectionEventHandlerKnob"; }
    bool build_handle(PX::Image::ViewerContext*) override { return true; }

protected:
    bool handleEvent(PX::Image::ViewerContext& ctx) override;
};

}  // namespace Research
}  // namespace Korvane
