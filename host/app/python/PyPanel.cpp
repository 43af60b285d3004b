// SPDX-License-Identifier: Apache-2.0
// vireo.Panel: a small dialog of single-line inputs, confirmed or cancelled. Without a person
// the answer comes from vireo.setPanelAnswers (PythonHost::answerPanel).

#include <string>
#include <utility>
#include <vector>

#include "python/Bindings.h"

namespace Vireo {
namespace Python {

namespace {

class Panel {
public:
    explicit Panel(std::string title) : m_title(std::move(title)) {}
    const std::string& title() const { return m_title; }

    void addSingleLineInput(const std::string& name, py::handle value) {
        for (const auto& input : m_inputs)
            if (input.first == name)
                throw py::value_error("panel '" + m_title + "' has an input '" + name +
                                      "' already");
        m_inputs.emplace_back(name, py::str(value).cast<std::string>());
    }

    bool show() { return host().answerPanel(m_title, m_inputs); }

    const std::string& value(const std::string& name) const {
        for (const auto& input : m_inputs)
            if (input.first == name) return input.second;
        throw py::key_error("panel '" + m_title + "' has no input '" + name + "'");
    }

private:
    std::string m_title;
    std::vector<std::pair<std::string, std::string>> m_inputs;
};

}  // namespace

void declarePanel(py::module_& m) {
    py::class_<Panel>(m, "Panel", "A dialog of single-line inputs.")
        .def(py::init<std::string>(), py::arg("title"))
        .def("title", &Panel::title)
        .def("addSingleLineInput",
             &Panel::addSingleLineInput,
             py::arg("name"),
             py::arg("value"),
             "Adds an input showing str(value).")
        .def("show",
             &Panel::show,
             "True when confirmed; without a person, answered from vireo.setPanelAnswers, and "
             "cancelled when none is queued.")
        .def("value", &Panel::value, py::arg("name"), "The text of an input.");
}

}  // namespace Python
}  // namespace Vireo
