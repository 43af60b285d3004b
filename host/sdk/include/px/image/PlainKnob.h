// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "px/image/Knob.h"

namespace PX {
namespace Image {

/// A knob of kind 0: it has a name and flags, stores and saves nothing.
class PlainKnob : public Knob {
public:
    using Knob::Knob;
    const char* Class() const override { return "Knob"; }
};

}  // namespace Image
}  // namespace PX
