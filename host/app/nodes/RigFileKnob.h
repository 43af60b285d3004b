// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "px/image/StringKnob.h"

namespace Vireo {

/// The path of a rig sidecar file. Whenever it gets a path (script load, user edit, undo or
/// redo) the project's views gain what the rig needs (RigSidecar::addMissingViews). A file
/// that cannot be read changes no views here; the Read node reports it as its error.
class RigFileKnob : public PX::Image::StringKnob {
public:
    RigFileKnob(PX::Image::Node* node, std::string name, std::string label, std::string* storage)
        : StringKnob(node, std::move(name), std::move(label), std::string(), storage) {}
    const char* Class() const override { return "RigFile_Knob"; }
    bool from_script(const char* text) override;
};

}  // namespace Vireo
