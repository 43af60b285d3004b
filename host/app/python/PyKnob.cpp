// SPDX-License-Identifier: Apache-2.0
// vireo.Knob: a knob of a node. Writes from Python are user edits: one undo step each, then
// changed(), so the node's knob_changed hears of them.

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <stdexcept>

#include "ControlPanel.h"
#include "Graph.h"
#include "px/image/ArrayKnob.h"
#include "px/image/EnumerationKnob.h"
#include "px/image/Limits.h"
#include "px/image/Node.h"
#include "px/image/StringKnob.h"
#include "px/image/UndoStack.h"
#include "python/Bindings.h"

namespace Vireo {
namespace Python {

using PX::Image::ArrayKnob;
using PX::Image::Knob;
using PX::Image::Node;
using PX::Image::UndoStack;

Knob* KnobRef::get() const {
    m_node.get();  // raises once the node is gone
    return m_knob;
}

void asUserEdit(Node* node, const std::function<void()>& what) {
    try {
        what();
    } catch (const std::invalid_argument& e) {
        throw py::value_error("node '" + node->name() + "': " + e.what());
    }
}

namespace {

std::string who(const Knob* k) { return "knob '" + k->name() + "'"; }

// The knob's text as a Python str; text that is not UTF-8 (a script written in another
// encoding) is a ValueError naming the knob and the first bad byte, not a bare decoding error.
py::str pythonText(const Knob* k, const std::string& text) {
    PyObject* decoded = PyUnicode_DecodeUTF8(text.data(), Py_ssize_t(text.size()), "strict");
    if (decoded) return py::reinterpret_steal<py::str>(decoded);
    size_t at = 0;
    if (PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) {
        PyObject *type, *value, *trace;
        PyErr_Fetch(&type, &value, &trace);
        Py_ssize_t start = 0;
        if (value && PyUnicodeDecodeError_GetStart(value, &start) == 0) at = size_t(start);
        Py_XDECREF(type);
        Py_XDECREF(value);
        Py_XDECREF(trace);
    }
    PyErr_Clear();
    char byte[8];
    std::snprintf(byte,
                  sizeof byte,
                  "0x%02x",
                  at < text.size() ? unsigned(static_cast<unsigned char>(text[at])) : 0u);
    throw py::value_error(who(k) + " of node '" + (k->node() ? k->node()->name() : std::string()) +
                          "' holds text that is not UTF-8 (byte " + byte + " at offset " +
                          std::to_string(at) + ")");
}

std::string typeName(py::handle v) { return py::str(py::type::handle_of(v).attr("__name__")); }

bool isNumber(py::handle v) {
    return py::isinstance<py::bool_>(v) || py::isinstance<py::int_>(v) ||
           py::isinstance<py::float_>(v);
}

// One component as the knob's script text reads it.
std::string componentText(const ArrayKnob* k, py::handle v) {
    if (py::isinstance<py::bool_>(v)) {
        const bool on = v.cast<bool>();
        return k->kind() == ArrayKnob::Kind::Bool ? (on ? "true" : "false") : (on ? "1" : "0");
    }
    if (py::isinstance<py::int_>(v)) return py::str(v);
    if (py::isinstance<py::float_>(v)) {
        char buf[32];
        const auto r = std::to_chars(buf, buf + sizeof buf, v.cast<double>());
        return std::string(buf, r.ptr);
    }
    throw py::type_error(who(k) + " takes numbers, not " + typeName(v));
}

void checkComponent(const ArrayKnob* k, int i) {
    if (i < 0 || i >= k->arraySize())
        throw py::index_error(who(k) + " has no component " + std::to_string(i) + " (it has " +
                              std::to_string(k->arraySize()) + ")");
}

// Reads `text` the way `k` would, without touching `k`: a knob of the same kind, size and
// range refuses exactly what `k` refuses, with the same message.
double parseLike(const ArrayKnob* k, const std::string& text) {
    ArrayKnob probe(nullptr, k->name(), k->label(), k->kind(), k->defaults(), nullptr);
    if (k->hasRange()) probe.setRange(k->rangeMin(), k->rangeMax());
    if (!probe.from_script(text.c_str())) throw std::invalid_argument(probe.error());
    return probe.get_value_at(0.0, 0);
}

py::object component(const ArrayKnob* k, int i) {
    const double v = k->get_value(i);
    switch (k->kind()) {
        case ArrayKnob::Kind::Int:
            return py::int_(static_cast<long long>(v));
        case ArrayKnob::Kind::Bool:
            return py::bool_(v != 0.0);
        case ArrayKnob::Kind::Float:
            break;
    }
    return py::float_(v);
}

py::object value(const KnobRef& ref, int i) {
    const Knob* k = ref.get();
    if (const auto* a = dynamic_cast<const ArrayKnob*>(k)) {
        if (i >= 0 || a->arraySize() == 1) {
            checkComponent(a, i < 0 ? 0 : i);
            return component(a, i < 0 ? 0 : i);
        }
        py::list values;
        for (int c = 0; c < a->arraySize(); ++c) values.append(component(a, c));
        return std::move(values);
    }
    if (i >= 0) throw py::index_error(who(k) + " has no components");
    if (const auto* e = dynamic_cast<const PX::Image::EnumerationKnob*>(k))
        return py::int_(e->value());
    if (const auto* s = dynamic_cast<const PX::Image::StringKnob*>(k))
        return pythonText(k, s->text());
    if (const auto* t = dynamic_cast<const PX::Image::TextKnob*>(k))
        return pythonText(k, t->text());
    if (k->isValueKnob()) return pythonText(k, k->toScriptText());
    throw py::type_error(who(k) + " (" + k->Class() + ") holds no value");
}

// A number into component i (all when i < 0) of an animated knob: a key at the UI frame.
void setAnimated(ArrayKnob* k, py::handle v, int i) {
    std::vector<double> values(size_t(k->arraySize()));
    const bool list = py::isinstance<py::list>(v) || py::isinstance<py::tuple>(v);
    if (list) {
        if (i >= 0 || int(py::len(v)) != k->arraySize())
            throw py::value_error(who(k) + " takes " + std::to_string(k->arraySize()) + " values");
        for (size_t c = 0; c < values.size(); ++c)
            values[c] = parseLike(k, componentText(k, v[py::int_(c)]));
    } else {
        values.assign(values.size(), parseLike(k, componentText(k, v)));
    }
    UndoStack& undo = UndoStack::instance();
    undo.begin(k->name());
    k->add_to_undo();
    for (int c = 0; c < k->arraySize(); ++c)
        if (i < 0 || c == i) k->set_value(values[size_t(c)], c);
    k->stop_add_to_undo();
    undo.end();
    k->changed();
}

void setValue(const KnobRef& ref, py::handle v, int i) {
    Knob* k = ref.get();
    Node* node = ref.node();
    auto* a = dynamic_cast<ArrayKnob*>(k);
    if (i >= 0 && !a) throw py::index_error(who(k) + " has no components");
    if (a && i >= 0) checkComponent(a, i);
    asUserEdit(node, [&] {
        if (a && a->is_animated()) return setAnimated(a, v, i);
        std::string text;
        if (a && i >= 0) {
            text = "{";
            for (int c = 0; c < a->arraySize(); ++c)
                text += (c ? " " : "") + componentText(a, c == i ? v : component(a, c));
            text += "}";
        } else {
            text = knobText(k, v, false);
        }
        node->setKnobFromUser(k->name(), text);
    });
}

}  // namespace

std::string knobText(Knob* k, py::handle v, bool scriptText) {
    if (scriptText && py::isinstance<py::str>(v)) return v.cast<std::string>();
    if (auto* a = dynamic_cast<ArrayKnob*>(k)) {
        if (isNumber(v)) return componentText(a, v);
        if (py::isinstance<py::list>(v) || py::isinstance<py::tuple>(v)) {
            if (int(py::len(v)) != a->arraySize())
                throw py::value_error(who(k) + " takes " + std::to_string(a->arraySize()) +
                                      " values, not " + std::to_string(py::len(v)));
            std::string text = "{";
            for (size_t c = 0; c < py::len(v); ++c)
                text += (c ? " " : "") + componentText(a, v[py::int_(c)]);
            return text + "}";
        }
        throw py::type_error(who(k) + " takes numbers, not " + typeName(v));
    }
    if (dynamic_cast<PX::Image::EnumerationKnob*>(k)) {
        if (py::isinstance<py::int_>(v) && !py::isinstance<py::bool_>(v)) return py::str(v);
        if (py::isinstance<py::str>(v)) return v.cast<std::string>();
        throw py::type_error(who(k) + " takes an index or a label, not " + typeName(v));
    }
    if (!k->isValueKnob()) throw py::type_error(who(k) + " (" + k->Class() + ") holds no value");
    if (py::isinstance<py::str>(v)) return v.cast<std::string>();
    throw py::type_error(who(k) + " takes text, not " + typeName(v));
}

namespace {

// The node's open panel; RuntimeError when it is closed.
ControlPanel& openPanel(const KnobRef& k) {
    ControlPanel* panel = host().graph().controlPanel(k.node());
    if (!panel)
        throw std::runtime_error("the panel of node '" + k.node()->name() +
                                 "' is not open (node.showControlPanel() opens it)");
    return *panel;
}

}  // namespace

void declareKnob(py::module_& m) {
    py::class_<KnobRef>(m, "Knob", "A knob of a node.")
        .def("name", [](const KnobRef& k) { return k.get()->name(); })
        .def("label", [](const KnobRef& k) { return k.get()->label(); })
        .def("tooltip", [](const KnobRef& k) { return k.get()->tooltip(); })
        .def("Class", [](const KnobRef& k) { return std::string(k.get()->Class()); })
        .def("enabled", [](const KnobRef& k) { return k.get()->enabled(); })
        .def("visible", [](const KnobRef& k) { return k.get()->visible(); })
        .def(
            "toScript",
            [](const KnobRef& k) { return pythonText(k.get(), k.get()->toScriptText()); },
            "The value as a saved script holds it (every key when animated).")
        .def(
            "fromScript",
            [](const KnobRef& k, const std::string& text) {
                asUserEdit(k.node(), [&] { k.node()->setKnobFromUser(k.get()->name(), text); });
            },
            py::arg("text"),
            "Reads script text, as a user edit; ValueError (value kept) when refused.")
        .def("value",
             &value,
             py::arg("i") = -1,
             "Numbers for numeric knobs (a list for several components unless i is given), the "
             "index for enumerations, the text for text knobs, the script text for others.")
        .def("setValue",
             &setValue,
             py::arg("value"),
             py::arg("i") = -1,
             "A user edit of the whole knob, or of component i. An animated knob gets a key at the "
             "UI frame. TypeError or ValueError (value kept) when the knob refuses it.")
        .def(
            "execute",
            [](const KnobRef& k) {
                host().clearLastScriptFailed();
                k.node()->pressKnob(k.get()->name());
                if (host().lastScriptFailed())
                    throw std::runtime_error("node '" + k.node()->name() + "': the script of '" +
                                             k.get()->name() + "' failed");
            },
            "Presses the knob as a user would; RuntimeError when its script failed.")
        .def("isAnimated", [](const KnobRef& k) { return k.get()->is_animated(); })
        .def("isKey", [](const KnobRef& k, double frame) { return k.get()->is_key(frame); })
        .def("getNumKeys", [](const KnobRef& k) { return k.get()->getNumKeys(); })
        .def(
            "getKeyTime",
            [](const KnobRef& k, int i) {
                const Knob* knob = k.get();
                if (i < 0 || i >= knob->getNumKeys())
                    throw py::index_error(who(knob) + " has no key " + std::to_string(i) +
                                          " (it has " + std::to_string(knob->getNumKeys()) + ")");
                return knob->getKeyTime(i);
            },
            py::arg("k"),
            "The frame of key k, keys in increasing time.")
        .def(
            "setKeyAt",
            [](const KnobRef& k, double frame) {
                Knob* knob = k.get();
                if (!knob->isAnimatable()) throw py::value_error(who(knob) + " cannot be animated");
                const std::string refused =
                    PX::Image::keyFrameRefusal(frame, size_t(std::max(0, knob->getNumKeys())));
                if (!refused.empty() && !knob->is_key(frame))
                    throw py::value_error(who(knob) + ": " + refused);
                UndoStack& undo = UndoStack::instance();
                undo.begin(knob->name());
                knob->add_to_undo();
                const bool added = knob->setKeyAt(frame);
                knob->stop_add_to_undo();
                undo.end();
                if (added) knob->changed();
                return added;
            },
            py::arg("frame"),
            "Keys the knob at `frame` (animating it first); False when a key was there.")
        .def(
            "selectRows",
            [](const KnobRef& k, const std::vector<int>& rows) {
                try {
                    openPanel(k).selectRows(k.get(), rows);
                } catch (const std::out_of_range& e) {
                    throw py::index_error(e.what());
                } catch (const std::invalid_argument& e) {
                    throw py::type_error(e.what());
                }
            },
            py::arg("rows"),
            "Selects whole rows of the knob's list in the open panel, as a user's click and "
            "Ctrl-clicks would; rows count the selectable items top to bottom. IndexError past "
            "the end, TypeError for a knob without a list, RuntimeError with the panel closed.")
        .def(
            "selectedRows",
            [](const KnobRef& k) { return openPanel(k).selectedRows(k.get()); },
            "The selected rows of the knob's list in the open panel, ascending.")
        .def(
            "panelAction",
            [](const KnobRef& k, const std::string& text) {
                if (!openPanel(k).triggerAction(k.get(), text))
                    throw py::key_error(who(k.get()) + " has no enabled panel action '" + text +
                                        "'");
            },
            py::arg("text"),
            "Runs the action called `text` of the knob's widget in the open panel (its context "
            "menu: for the constraints list \"Add\", \"Toggle\", \"Merge\", \"Delete\", "
            "\"Delete All\"); questions are answered as for any other script.")
        .def("__repr__", [](const KnobRef& k) {
            return "<vireo.Knob " + k.node()->name() + "." + k.get()->name() + " (" +
                   k.get()->Class() + ")>";
        });
}

}  // namespace Python
}  // namespace Vireo
