// SPDX-License-Identifier: Apache-2.0
#include "python/PythonHost.h"

#include <pybind11/embed.h>

#include "px/image/Node.h"
#include "px/image/UndoStack.h"

namespace py = pybind11;

namespace Vireo {

using PX::Image::Node;
using PX::Image::UndoStack;

namespace {

// The exception's traceback as Python prints it; the caller holds the GIL.
std::string traceback(py::error_already_set& e) {
    try {
        py::list lines = py::module_::import("traceback")
                             .attr("format_exception")(e.type(), e.value(), e.trace());
        std::string text;
        for (py::handle l : lines) text += l.cast<std::string>();
        while (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    } catch (const std::exception&) {
        return e.what();
    }
}

void flushPythonStreams() {
    py::module_ sys = py::module_::import("sys");
    for (const char* stream : {"stdout", "stderr"})
        if (!sys.attr(stream).is_none()) sys.attr(stream).attr("flush")();
}

}  // namespace

PythonHost::PythonHost(std::ostream& log, std::unique_ptr<Graph> graph) : CommandLineHost(log) {
    setGraph(graph ? std::move(graph) : std::make_unique<Graph>());
}

PythonHost::~PythonHost() {
    if (m_ownsInterpreter) py::finalize_interpreter();
}

PythonHost* PythonHost::active() { return dynamic_cast<PythonHost*>(&Host::current()); }

void PythonHost::setGraph(std::unique_ptr<Graph> graph) {
    m_serials.clear();
    m_graph = std::move(graph);
    setFrame(m_graph->settings().firstFrame);
}

std::unique_ptr<Graph> PythonHost::takeGraph() {
    std::unique_ptr<Graph> graph = std::move(m_graph);
    setGraph(std::make_unique<Graph>());
    return graph;
}

Node* PythonHost::addNode(const std::string& className, const std::string& name) {
    Node* node = m_graph->addNode(className, name);
    PX::Image::OutputContext ui = node->uiContext();
    ui.setFrame(m_frame);
    node->setUIContext(ui);
    return node;
}

void PythonHost::removeNode(Node* node) {
    m_serials.erase(node);
    m_graph->removeNode(node);
}

uint64_t PythonHost::serialOf(Node* node) {
    if (!node || !m_graph->owns(node))
        throw std::invalid_argument("node '" + (node ? node->name() : std::string()) +
                                    "' is not in the scripting session's graph");
    const auto [it, added] = m_serials.emplace(node, m_nextSerial);
    if (added) ++m_nextSerial;
    return it->second;
}

bool PythonHost::alive(const Node* node, uint64_t serial) const {
    const auto it = m_serials.find(node);
    return it != m_serials.end() && it->second == serial && m_graph->owns(node);
}

void PythonHost::setFrame(double frame) {
    m_frame = frame;
    for (const auto& node : m_graph->nodes()) {
        PX::Image::OutputContext ui = node->uiContext();
        ui.setFrame(frame);
        node->setUIContext(ui);
    }
}

bool PythonHost::answerPanel(const std::string& title,
                             std::vector<std::pair<std::string, std::string>>& inputs) {
    if (m_panelAnswers.empty()) {
        line("panel: " + title +
             " -> cancelled (no answer queued; vireo.setPanelAnswers gives one)");
        return false;
    }
    const PanelAnswer answer = std::move(m_panelAnswers.front());
    m_panelAnswers.pop_front();
    if (!answer) {
        line("panel: " + title + " -> cancelled (vireo.setPanelAnswers)");
        return false;
    }
    for (const auto& [name, text] : *answer) {
        bool found = false;
        for (auto& input : inputs)
            if (input.first == name) input.second = text, found = true;
        if (!found) {
            std::string names;
            for (const auto& input : inputs) names += (names.empty() ? "" : ", ") + input.first;
            throw std::invalid_argument("panel '" + title + "' has no input '" + name +
                                        "' (it has " + names + ")");
        }
    }
    std::string filled;
    for (const auto& input : inputs) filled += " " + input.first + "=" + input.second;
    line("panel: " + title + ":" + filled + " -> confirmed (vireo.setPanelAnswers)");
    return true;
}

void PythonHost::ensureInterpreter() {
    if (Py_IsInitialized()) return;
    // No Python handler for SIGINT: vireo's own turns it into a cancel (Interruption).
    py::initialize_interpreter(false);
    m_ownsInterpreter = true;
}

bool PythonHost::runScript(Node* node, const std::string& script) {
    const std::string who = "[" + (node ? node->name() : std::string()) + "] ";
    if (!node || !m_graph->owns(node)) {
        line("error: " + who + "a button script runs only on a node of the scripting session");
        ++m_failedScripts;
        return false;
    }
    ensureInterpreter();
    UndoStack& undo = UndoStack::instance();
    undo.begin("script");
    const UndoStack::Savepoint point = undo.savepoint();
    m_thisNodes.push_back(node);
    std::string failure;
    try {
        py::module_ vireo = py::module_::import("vireo");
        py::dict scope;
        scope["__builtins__"] = py::module_::import("builtins");
        scope["__name__"] = "__button__";
        scope["vireo"] = vireo;
        scope["node"] = vireo.attr("thisNode")();
        // compile() rather than py::exec, whose added first line would shift the traceback's
        // line numbers.
        py::module_ builtins = py::module_::import("builtins");
        builtins.attr("exec")(
            builtins.attr("compile")(script, "<button script of " + node->name() + ">", "exec"),
            scope);
    } catch (py::error_already_set& e) {
        failure = traceback(e);
    } catch (const std::exception& e) {
        failure = e.what();
    }
    m_thisNodes.pop_back();
    m_lastScriptFailed = !failure.empty();
    if (!failure.empty()) {
        ++m_failedScripts;
        undo.rollback(point);
        line("error: " + who + "a button script failed; what it changed is undone\n" + failure);
    }
    undo.end();
    return failure.empty();
}

int PythonHost::runFile(const std::string& path, const std::vector<std::string>& args) {
    ensureInterpreter();
    int status = 0;
    try {
        py::module_ sys = py::module_::import("sys");
        py::list argv;
        argv.append(path);
        for (const std::string& a : args) argv.append(a);
        sys.attr("argv") = argv;
        py::object scope = py::module_::import("__main__").attr("__dict__");
        scope["__file__"] = path;
        py::eval_file(path, scope);
    } catch (py::error_already_set& e) {
        if (e.matches(PyExc_SystemExit)) {
            py::object code = e.value().attr("code");
            if (code.is_none())
                status = 0;
            else if (py::isinstance<py::int_>(code))
                status = code.cast<int>();
            else
                line(py::str(code).cast<std::string>()), status = 1;
        } else {
            line("error: " + path + " failed\n" + traceback(e));
            status = 1;
        }
    } catch (const std::exception& e) {
        line("error: " + path + ": " + e.what());
        status = 1;
    }
    flushPythonStreams();
    return status;
}

}  // namespace Vireo
