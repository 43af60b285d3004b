// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include "vellacam/ProgressSink.h"

namespace PX {
namespace Image {
class Op;
}  // namespace Image
}  // namespace PX

namespace Korvane {
namespace Research {

/// Progress of one long piece of work (matching, a solve), split into steps. Each step
/// declares the interval [begin, end] of the whole (0 to 1) it covers; fractions of the step
/// are mapped into that interval: f -> begin + f * (end - begin). Values are clamped to 0..1,
/// and a value equal to the last one sent is not sent again.
/// Interruption is sticky: once the sink reports it, isInterrupted() stays true.
/// One reporter belongs to one thread.
class ProgressReporter {
public:
    /// Throws std::invalid_argument for a null sink.
    explicit ProgressReporter(std::shared_ptr<ProgressSink> sink);

    /// The next fractions cover [begin, end] of the whole. Throws std::invalid_argument unless
    /// 0 <= begin <= end <= 1.
    void setProgressInterval(double begin, double end);
    double getIntervalBegin() const { return m_begin; }
    double getIntervalEnd() const { return m_end; }

    /// Fraction of the current interval done.
    void setProgressFraction(double fraction);

    bool isInterrupted() const;

private:
    std::shared_ptr<ProgressSink> m_sink;
    double m_begin = 0.0;
    double m_end = 1.0;
    double m_lastSent = -1.0;
    mutable bool m_interrupted = false;
};

/// A reporter for long work run by `op`: fractions below 1 show as the host's progress
/// fraction, 1 dismisses the progress bar; isInterrupted() is true once the user cancelled
/// or the host aborted. `op` must outlive the reporter. Throws std::invalid_argument for null.
std::unique_ptr<ProgressReporter> CreateProgressReporter(PX::Image::Op* op);

}  // namespace Research
}  // namespace Korvane
