// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "px/image/Node.h"

class QWidget;

namespace Vireo {

/// A node's open control panel: a window holding the widget of every knob that makes one
/// (Knob::make_widget). The command-line host never shows it; it exists so that scripts can
/// work through a panel as a user would (select rows, run its actions), and the interactive
/// host embeds the same widgets. Opening tells the node (Knob::showPanel); closing destroys the
/// widgets, which knobs holding a guarded pointer to them notice.
///
/// The first panel makes the process's QApplication; with no display (neither DISPLAY nor
/// WAYLAND_DISPLAY set, and no QT_QPA_PLATFORM chosen) it uses Qt's offscreen platform.
///
/// Rows of a knob's list widget are counted the way a user sees them: every selectable item
/// of the widget's model, depth first, top to bottom (headers and group items that cannot be
/// selected are skipped). Main thread only.
class ControlPanel {
public:
    explicit ControlPanel(PX::Image::Node* node);
    ~ControlPanel();
    ControlPanel(const ControlPanel&) = delete;
    ControlPanel& operator=(const ControlPanel&) = delete;

    /// The widget `knob` made, null when it made none.
    QWidget* widgetOf(const PX::Image::Knob* knob) const;

    /// Replaces the selection of the knob's list with whole `rows` (the last becomes current).
    /// Throws std::invalid_argument when the knob has no list and std::out_of_range for a row
    /// past the end.
    void selectRows(const PX::Image::Knob* knob, const std::vector<int>& rows) const;
    /// The selected rows of the knob's list, ascending.
    std::vector<int> selectedRows(const PX::Image::Knob* knob) const;
    /// Runs the action of the knob's widget (its context menu) whose text is `text`; false
    /// when it has no such action or the action is disabled.
    bool triggerAction(const PX::Image::Knob* knob, const std::string& text) const;

    /// Makes the QApplication when there is none.
    static void ensureApplication();

private:
    PX::Image::Node* m_node;
    QWidget* m_window;
    std::vector<std::pair<const PX::Image::Knob*, QWidget*>> m_widgets;
};

}  // namespace Vireo
