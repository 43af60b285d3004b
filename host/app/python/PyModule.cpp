// SPDX-License-Identifier: Apache-2.0
// The module `vireo`, embedded in the host: the functions; the classes are declared by their
// own Py<Class>.cpp.

#include <cstring>
#include <stdexcept>

#include <pybind11/embed.h>
#include <pybind11/stl.h>

#include "ScriptFile.h"
#include "px/image/Executable.h"
#include "px/image/Host.h"
#include "px/image/Limits.h"
#include "px/image/Node.h"
#include "px/image/Op.h"
#include "px/image/UndoStack.h"
#include "python/Bindings.h"

namespace Vireo {
namespace Python {

using PX::Image::Node;

PythonHost& host() {
    PythonHost* h = PythonHost::active();
    if (!h) throw std::runtime_error("vireo: this host has no scripting session");
    return *h;
}

namespace {

NodeRef createNode(const std::string& className, const std::string& name, const py::kwargs& knobs) {
    PythonHost& h = host();
    Node* node = h.addNode(className, name);
    // Values are read as a script file gives them: no undo step, no knob_changed. A node
    // that cannot take them all is not kept.
    try {
        PX::Image::UndoStack::instance().suspend();
        for (const auto& item : knobs) {
            const std::string knobName = py::str(item.first);
            PX::Image::Knob* knob = node->knob(knobName);
            if (!knob)
                throw py::key_error("createNode: a " + className + " node has no knob '" +
                                    knobName + "'");
            const std::string text = knobText(knob, item.second, true);
            if (!knob->from_script(text.c_str()))
                throw py::value_error("createNode: " + knob->error());
        }
        PX::Image::UndoStack::instance().resume();
    } catch (...) {
        PX::Image::UndoStack::instance().resume();
        h.removeNode(node);
        throw;
    }
    return NodeRef(node);
}

bool execute(const NodeRef& ref, const FrameRanges& ranges) {
    Node* node = ref.get();
    if (!node->op()->executable())
        throw py::value_error("node '" + node->name() + "' (" + node->className() +
                              ") cannot be executed");
    const PX::Image::ExecuteResult r = PX::Image::execute(node->op(), ranges.frames);
    if (!r.error.empty()) throw std::runtime_error("node '" + node->name() + "': " + r.error);
    if (r.cancelled)
        host().log("[" + node->name() + "] cancelled after " + std::to_string(r.framesRun) +
                   " frames");
    return !r.cancelled;
}

// The Python exception a C++ one becomes, as pybind11 maps them; null for those left to it
// (an exception already raised in Python, and pybind11's rarer builtin kinds).
PyObject* pythonTypeOf(const std::exception& e) {
    if (dynamic_cast<const py::error_already_set*>(&e)) return nullptr;
    if (dynamic_cast<const py::key_error*>(&e)) return PyExc_KeyError;
    if (dynamic_cast<const py::type_error*>(&e)) return PyExc_TypeError;
    if (dynamic_cast<const py::value_error*>(&e) ||
        dynamic_cast<const std::invalid_argument*>(&e) ||
        dynamic_cast<const std::domain_error*>(&e) || dynamic_cast<const std::length_error*>(&e) ||
        dynamic_cast<const std::range_error*>(&e))
        return PyExc_ValueError;
    if (dynamic_cast<const py::index_error*>(&e) || dynamic_cast<const std::out_of_range*>(&e))
        return PyExc_IndexError;
    if (dynamic_cast<const py::builtin_exception*>(&e)) return nullptr;
    if (dynamic_cast<const std::overflow_error*>(&e)) return PyExc_OverflowError;
    return PyExc_RuntimeError;
}

// Messages quote file names and script lines as their bytes, which need not be UTF-8 (a file
// named in Latin-1, a binary file opened as a script). pybind11 decodes a message strictly and,
// when that fails, raises the exception with no text at all: such a message is decoded here
// with its bad bytes written as \xNN.
void translateUndecodableMessage(std::exception_ptr p) {
    try {
        std::rethrow_exception(p);
    } catch (const std::exception& e) {
        const char* what = e.what();
        const Py_ssize_t size = Py_ssize_t(std::strlen(what));
        PyObject* type = pythonTypeOf(e);
        PyObject* strict = type ? PyUnicode_DecodeUTF8(what, size, "strict") : nullptr;
        if (!type || strict) {
            Py_XDECREF(strict);
            PyErr_Clear();
            throw;  // pybind11's own translation
        }
        PyErr_Clear();
        PyObject* text = PyUnicode_DecodeUTF8(what, size, "backslashreplace");
        PyErr_SetObject(type, text);
        Py_XDECREF(text);
    }
}

}  // namespace

PYBIND11_EMBEDDED_MODULE(vireo, m) {
    m.doc() = "The host's scripting module: the graph, knobs, executions, questions, panels.";
    py::register_exception_translator(&translateUndecodableMessage);
    declareNode(m);
    declareKnob(m);
    declareFrameRanges(m);
    declarePanel(m);

    m.def("createNode",
          &createNode,
          py::arg("className"),
          py::arg("name") = std::string(),
          "Makes a node (named ClassN when no name is given) and sets the knobs given as "
          "keywords, each a Python value or the knob's script text.");
    m.def(
        "scriptOpen",
        [](const std::string& path) {
            ScriptFile file(path);
            std::unique_ptr<Graph> graph = file.load();
            for (const std::string& w : file.warnings()) host().log("warning: " + w);
            for (const std::string& e : file.errors()) host().log("error: " + e);
            host().setGraph(std::move(graph));
        },
        py::arg("path"),
        "Replaces the graph with the script file's; nodes held before go stale.");
    m.def(
        "scriptSave",
        [](const std::string& path) { ScriptFile::save(host().graph(), path); },
        py::arg("path"));
    m.def("allNodes", [] {
        std::vector<NodeRef> nodes;
        for (const auto& n : host().graph().nodes()) nodes.emplace_back(n.get());
        return nodes;
    });
    m.def(
        "thisNode",
        [] {
            Node* node = host().thisNode();
            if (!node) throw std::runtime_error("vireo.thisNode(): no button script is running");
            return NodeRef(node);
        },
        "The node whose button script runs; RuntimeError outside a button script.");
    m.def(
        "toNode",
        [](const std::string& name) -> py::object {
            Node* node = host().graph().node(name);
            return node ? py::cast(NodeRef(node)) : py::object(py::none());
        },
        py::arg("name"),
        "The node called `name`, or None.");
    m.def(
        "frame", [] { return host().frame(); }, "The UI frame.");
    m.def(
        "setFrame", [](double f) { host().setFrame(f); }, py::arg("frame"));
    m.def(
        "ask",
        [](const std::string& question) { return PX::Image::Host::current().ask(question); },
        py::arg("question"),
        "A yes/no question; without a person: --yes/--no, then setAskAnswer, then no.");
    m.def(
        "message",
        [](const std::string& text) { PX::Image::Host::current().message(text); },
        py::arg("text"));
    m.def(
        "setAskAnswer",
        [](std::optional<bool> yes) { host().setStandingAnswer(yes); },
        py::arg("yes").none(true),
        "The answer to questions once the --yes/--no answers are used up; None: no again.");
    m.def(
        "setPanelAnswers",
        [](std::optional<std::map<std::string, py::object>> answers) {
            if (!answers) return host().queuePanelAnswer(std::nullopt);
            std::map<std::string, std::string> texts;
            for (const auto& [name, value] : *answers) texts[name] = py::str(value);
            host().queuePanelAnswer(std::move(texts));
        },
        py::arg("answers").none(true),
        "Queues the answer to the next panel shown: {input: value} confirms it with those "
        "inputs changed, None cancels it.");
    m.def("execute",
          &execute,
          py::arg("node"),
          py::arg("frames"),
          "Runs the node's executable over the frames; RuntimeError naming the node on a node "
          "error; False when cancelled.");
    m.def(
        "execute",
        [](const NodeRef& node, long long first, long long last, long long step) {
            FrameRanges r;
            try {
                r.frames = PX::Image::frameSpan(first, last, step, "execute");
            } catch (const std::invalid_argument& e) {
                throw py::value_error(e.what());
            }
            return execute(node, r);
        },
        py::arg("node"),
        py::arg("first"),
        py::arg("last"),
        py::arg("step") = 1);
    m.def("undo", [] { return PX::Image::UndoStack::instance().undo(); });
    m.def("redo", [] { return PX::Image::UndoStack::instance().redo(); });
}

}  // namespace Python
}  // namespace Vireo
