// SPDX-License-Identifier: Apache-2.0
// vireo.FrameRanges: the frames an execution covers.

#include <stdexcept>
#include <string>

#include "px/image/Limits.h"
#include "python/Bindings.h"

namespace Vireo {
namespace Python {

void declareFrameRanges(py::module_& m) {
    py::class_<FrameRanges>(m,
                            "FrameRanges",
                            "Frames for vireo.execute: FrameRanges([frames]) or "
                            "FrameRanges(first, last, step=1).")
        .def(py::init([](const std::vector<int>& frames) {
                 try {
                     PX::Image::checkFrameList(frames, "FrameRanges");
                 } catch (const std::invalid_argument& e) {
                     throw py::value_error(e.what());
                 }
                 return FrameRanges{frames};
             }),
             py::arg("frames"))
        .def(py::init([](long long first, long long last, long long step) {
                 try {
                     return FrameRanges{PX::Image::frameSpan(first, last, step, "FrameRanges")};
                 } catch (const std::invalid_argument& e) {
                     throw py::value_error(e.what());
                 }
             }),
             py::arg("first"),
             py::arg("last"),
             py::arg("step") = 1)
        .def("toFrameList", [](const FrameRanges& r) { return r.frames; })
        .def("__len__", [](const FrameRanges& r) { return r.frames.size(); })
        .def(
            "__iter__",
            [](const FrameRanges& r) {
                return py::make_iterator(r.frames.begin(), r.frames.end());
            },
            py::keep_alive<0, 1>())
        .def("__repr__", [](const FrameRanges& r) {
            std::string text = "FrameRanges([";
            for (size_t i = 0; i < r.frames.size(); ++i)
                text += (i ? ", " : "") + std::to_string(r.frames[i]);
            return text + "])";
        });
}

}  // namespace Python
}  // namespace Vireo
