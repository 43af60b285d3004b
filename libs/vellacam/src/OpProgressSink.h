// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "px/image/Op.h"
#include "vellacam/ProgressSink.h"

namespace Korvane {
namespace Research {
namespace detail {

/// Sends progress to the host through the operator that runs the work.
class OpProgressSink : public ProgressSink {
public:
    explicit OpProgressSink(PX::Image::Op* op) : m_op(op) {}

    void progressFraction(double fraction) override {
        // The host shows fractions in [0, 1) and takes 1 as the end of the work.
        if (fraction < 1.0)
            m_op->progressFraction(fraction);
        else
            m_op->progressDismiss();
    }

    bool interrupted() const override { return m_op->cancelled() || m_op->aborted(); }

private:
    PX::Image::Op* m_op;
};

}  // namespace detail
}  // namespace Research
}  // namespace Korvane
