// SPDX-License-Identifier: Apache-2.0
// vireo.Node: a node of the session's graph.

#include <utility>

#include "Graph.h"
#include "px/image/Iop.h"
#include "px/image/Node.h"
#include "python/Bindings.h"

namespace Vireo {
namespace Python {

using PX::Image::Knob;
using PX::Image::Node;

NodeRef::NodeRef(Node* node)
    : m_node(node), m_serial(host().serialOf(node)), m_name(node->name()) {}

Node* NodeRef::get() const {
    if (!host().alive(m_node, m_serial))
        throw std::runtime_error("node '" + m_name + "' no longer exists");
    return m_node;
}

namespace {

// The info frame range after validation for an image operator; the project's frame range
// for any other (an executable without an image has no range of its own).
std::pair<int, int> frameRange(Node* node) {
    if (auto* iop = dynamic_cast<PX::Image::Iop*>(node->op())) {
        node->storeKnobs(iop->outputContext());
        iop->validate(true);
        return {iop->info().first_frame(), iop->info().last_frame()};
    }
    const ProjectSettings& settings = host().graph().settings();
    return {settings.firstFrame, settings.lastFrame};
}

py::object inputOf(const NodeRef& ref, int n) {
    Node* upstream = ref.get()->input(n);
    return upstream ? py::cast(NodeRef(upstream)) : py::object(py::none());
}

}  // namespace

void declareNode(py::module_& m) {
    py::class_<NodeRef> node(m, "Node", "A node of the graph; knobs by script name: node['name'].");
    defineViewerEvent(node);
    node.def("name", [](const NodeRef& n) { return n.get()->name(); })
        .def("Class", [](const NodeRef& n) { return n.get()->className(); })
        .def(
            "setInput",
            [](const NodeRef& n, int i, const NodeRef* from) {
                host().graph().connect(from ? from->get() : nullptr, n.get(), i);
            },
            py::arg("i"),
            py::arg("node").none(true),
            "Connects input i to `node` (None disconnects); IndexError for an input the node "
            "lacks.")
        .def("input", &inputOf, py::arg("i"), "The node at input i, or None.")
        .def(
            "firstFrame",
            [](const NodeRef& n) { return frameRange(n.get()).first; },
            "First frame of the node's validated output; the project's for a node without an "
            "image.")
        .def("lastFrame", [](const NodeRef& n) { return frameRange(n.get()).second; })
        .def(
            "knobs",
            [](const NodeRef& n) {
                py::dict knobs;
                for (const auto& k : n.get()->knobs())
                    if (!k->name().empty()) knobs[py::str(k->name())] = KnobRef(n, k.get());
                return knobs;
            },
            "The named knobs in panel order, by script name.")
        .def("__getitem__",
             [](const NodeRef& n, const std::string& name) {
                 Knob* k = n.get()->knob(name);
                 if (!k)
                     throw py::key_error("node '" + n.get()->name() + "' has no knob '" + name +
                                         "'");
                 return KnobRef(n, k);
             })
        .def(
            "showControlPanel",
            [](const NodeRef& n) { host().graph().showControlPanel(n.get()); },
            "Opens the node's control panel (offscreen without a display); the node hears of "
            "it as when a user opens it. Its lists are then reachable through the knobs' "
            "selectRows, selectedRows and panelAction.")
        .def(
            "hideControlPanel",
            [](const NodeRef& n) { host().graph().hideControlPanel(n.get()); },
            "Closes the node's control panel; nothing when it is closed.")
        .def("__eq__", &NodeRef::operator==)
        .def("__hash__", [](const NodeRef& n) { return n.serial(); })
        .def("__repr__", [](const NodeRef& n) {
            return "<vireo.Node " + n.get()->name() + " (" + n.get()->className() + ")>";
        });
}

}  // namespace Python
}  // namespace Vireo
