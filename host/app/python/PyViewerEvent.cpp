// SPDX-License-Identifier: Apache-2.0
// Node.viewerEvent: one viewer event delivered to a node's knobs, as a viewer delivers it.

#include <stdexcept>

#include "px/image/Iop.h"
#include "px/image/Node.h"
#include "px/image/ViewerContext.h"
#include "python/Bindings.h"

namespace Vireo {
namespace Python {

using PX::Image::Node;
using PX::Image::ViewerContext;

namespace {

int viewNumber(const Node* node, py::handle view) {
    if (view.is_none()) return node->uiContext().view();
    if (py::isinstance<py::int_>(view)) {
        const int v = view.cast<int>();
        if (v < 0 || v >= PX::Image::Views::count())
            throw py::index_error("view " + std::to_string(v) + " is not a view of the project");
        return v;
    }
    const std::string name = py::str(view);
    const int v = PX::Image::Views::find(name);
    if (v < 0) throw py::key_error("the project has no view '" + name + "'");
    return v;
}

int keyCode(py::handle key) {
    if (key.is_none()) return 0;
    const std::string k = py::str(key);
    if (k == "tab") return ViewerContext::KeyTab;
    if (k == "escape") return ViewerContext::KeyEscape;
    if (k == "backspace") return ViewerContext::KeyBackspace;
    if (k == "delete") return ViewerContext::KeyDelete;
    if (k == "shift") return ViewerContext::KeyShift;
    if (k == "control") return ViewerContext::KeyControl;
    if (k.size() == 1) return static_cast<unsigned char>(k[0]);
    throw py::value_error("unknown key '" + k +
                          "' (a character, tab, escape, backspace, delete, shift or control)");
}

// The viewport of a viewer showing the node's output in `view` at the UI frame: its format.
std::pair<int, int> formatOf(Node* node, int view) {
    auto* iop = dynamic_cast<PX::Image::Iop*>(node->op());
    if (!iop) return {0, 0};
    PX::Image::OutputContext context = node->uiContext();
    context.setView(view);
    iop->setOutputContext(context);
    node->storeKnobs(context);
    iop->validate(true);
    return {iop->info().format().width(), iop->info().format().height()};
}

bool viewerEvent(const NodeRef& ref,
                 const std::string& event,
                 float x,
                 float y,
                 int button,
                 bool ctrl,
                 bool alt,
                 bool shift,
                 py::handle key,
                 std::pair<double, double> nudge,
                 py::handle viewport,
                 py::handle view) {
    Node* node = ref.get();
    ViewerContext ctx;
    try {
        ctx.setEvent(PX::Image::viewerEventByName(event));
    } catch (const std::invalid_argument& e) {
        throw py::value_error(e.what());
    }
    ctx.setView(viewNumber(node, view));
    ctx.setFrame(node->uiContext().frame());
    ctx.setMouse(x, y);
    ctx.setButton(button);
    ctx.setState((ctrl ? ViewerContext::kCtrl : 0u) | (alt ? ViewerContext::kAlt : 0u) |
                 (shift ? ViewerContext::kShift : 0u));
    ctx.setKey(keyCode(key));
    ctx.setNudge(nudge.first, nudge.second);
    const auto size =
        viewport.is_none() ? formatOf(node, ctx.view()) : viewport.cast<std::pair<int, int>>();
    if (!viewport.is_none() && (size.first < 1 || size.second < 1))
        throw py::value_error("viewport=(" + std::to_string(size.first) + ", " +
                              std::to_string(size.second) +
                              ") is no size: width and height must be at least 1");
    if (size.first < 1 || size.second < 1)
        throw py::value_error("node '" + node->name() +
                              "' has no image size in this view: give viewport=(width, height)");
    ctx.setViewport(size.first, size.second);
    return ctx.deliver(*node->op());
}

}  // namespace

void defineViewerEvent(py::class_<NodeRef>& node) {
    node.def("viewerEvent",
             &viewerEvent,
             py::arg("event"),
             py::arg("x") = 0.0f,
             py::arg("y") = 0.0f,
             py::arg("button") = 0,
             py::arg("ctrl") = false,
             py::arg("alt") = false,
             py::arg("shift") = false,
             py::arg("key") = py::none(),
             py::arg("nudge") = std::pair<double, double>(0.0, 0.0),
             py::arg("viewport") = py::none(),
             py::arg("view") = py::none(),
             "Delivers one viewer event to the node's knobs as a viewer showing `view` (a name "
             "or number; default the UI view) does; returns True when a knob consumed it. "
             "Positions are output pixels; `viewport` defaults to the node's format in that "
             "view.");
}

}  // namespace Python
}  // namespace Vireo
