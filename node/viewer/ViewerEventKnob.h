// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <string>

#include "px/image/Knob.h"
#include "px/image/ViewerContext.h"

namespace Korvane {
namespace Research {

/// The base of the knobs that turn viewer events into view navigation. Such a knob takes
/// every mouse event and every key of the viewers that show a view it accepts (all views until
/// a view filter is set), and hears of them through handleEvent().
///
/// A drag changes the knob's value live, so that the viewer follows the mouse; at its end,
/// commitChange() records the whole drag as one undo step (from the value at its start) and
/// reports changed(), which brings knob_changed to the node.
class ViewerEventKnob : public PX::Image::Knob {
public:
    using ViewFilter = std::function<bool(int view)>;

    ViewerEventKnob(PX::Image::Node* node, std::string name);
    /// Only viewers showing a view for which `filter` answers true deliver events.
    void setViewFilter(ViewFilter filter) { m_viewFilter = std::move(filter); }

    bool build_handle(PX::Image::ViewerContext* ctx) override;
    void draw_handle(PX::Image::ViewerContext* ctx) override;

protected:
    /// One event of a viewer; true when consumed.
    virtual bool handleEvent(PX::Image::ViewerContext& ctx) = 0;
    /// Remembers the value at the start of a drag.
    void beginChange() { m_textBefore = toScriptText(); }
    /// One undo step from the value at beginChange() to the current one, then changed().
    void commitChange();

private:
    ViewFilter m_viewFilter;
    std::string m_textBefore;
};

}  // namespace Research
}  // namespace Korvane
