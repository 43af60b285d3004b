// SPDX-License-Identifier: Apache-2.0
#include "nodes/RigFileKnob.h"

#include "RigSidecar.h"

namespace Vireo {

bool RigFileKnob::from_script(const char* text) {
    if (!StringKnob::from_script(text)) return false;
    if (this->text().empty()) return true;
    try {
        RigSidecar::read(this->text()).addMissingViews();
    } catch (const RigSidecar::Error&) {
        // Left for the Read node to report when it validates or fetches its metadata.
    }
    return true;
}

}  // namespace Vireo
