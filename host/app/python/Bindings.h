// SPDX-License-Identifier: Apache-2.0
// What the binding files of the module `vireo` share. Each bound class has its own
// Py<Class>.cpp with declare<Class>(module); PyModule.cpp holds the module's functions.
//
// Errors reach Python as: KeyError for a knob or panel input that is absent; TypeError for a
// value of the wrong kind; ValueError for a value a knob refuses (the knob's own message,
// naming it; the knob keeps its value); IndexError for a component, key or input past the end;
// RuntimeError for a node that left the graph, a failed execution or a failed nested button.
// A message's bytes that are not UTF-8 (file names and script lines as they are) read as \xNN.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "python/PythonHost.h"

namespace PX {
namespace Image {
class Knob;
class Node;
}  // namespace Image
}  // namespace PX

namespace Vireo {
namespace Python {

namespace py = pybind11;

/// The host in charge; RuntimeError when it is not a scripting host.
PythonHost& host();

/// A node as Python holds it. It goes stale once its node left the session's graph (a
/// scriptOpen replaced the graph): every use then raises RuntimeError naming the node.
class NodeRef {
public:
    explicit NodeRef(PX::Image::Node* node);
    PX::Image::Node* get() const;
    bool operator==(const NodeRef& other) const {
        return m_node == other.m_node && m_serial == other.m_serial;
    }
    uint64_t serial() const { return m_serial; }

private:
    PX::Image::Node* m_node;
    uint64_t m_serial;
    std::string m_name;  // for the message once the node is gone
};

/// A knob of a node held by Python; stale with its node.
class KnobRef {
public:
    KnobRef(NodeRef node, PX::Image::Knob* knob) : m_node(std::move(node)), m_knob(knob) {}
    PX::Image::Knob* get() const;
    PX::Image::Node* node() const { return m_node.get(); }

private:
    NodeRef m_node;
    PX::Image::Knob* m_knob;
};

/// The frames of a FrameRanges, in the order given.
struct FrameRanges {
    std::vector<int> frames;
};

/// The script text that gives `knob` the Python value `value`: numbers (or a list of one per
/// component) for numeric knobs, an index or a label for enumerations, text for text knobs.
/// With `scriptText`, a str is taken as the knob's script text whatever its kind. TypeError
/// for a value of the wrong kind.
std::string knobText(PX::Image::Knob* knob, py::handle value, bool scriptText);

/// Runs `what` and turns the SDK's std::invalid_argument into a ValueError prefixed with the
/// node's name.
void asUserEdit(PX::Image::Node* node, const std::function<void()>& what);

void declareNode(py::module_& m);
void declareKnob(py::module_& m);
void declareFrameRanges(py::module_& m);
void declarePanel(py::module_& m);
/// Adds Node.viewerEvent (PyViewerEvent.cpp).
void defineViewerEvent(py::class_<NodeRef>& node);

}  // namespace Python
}  // namespace Vireo
