// SPDX-License-Identifier: Apache-2.0
#include "vellacam/ProgressReporter.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "OpProgressSink.h"

namespace Korvane {
namespace Research {

ProgressReporter::ProgressReporter(std::shared_ptr<ProgressSink> sink) : m_sink(std::move(sink)) {
    if (!m_sink) throw std::invalid_argument("ProgressReporter needs a sink");
}

void ProgressReporter::setProgressInterval(double begin, double end) {
    if (!(0.0 <= begin && begin <= end && end <= 1.0))
        throw std::invalid_argument("progress interval [" + std::to_string(begin) + ", " +
                                    std::to_string(end) + "] is not inside [0, 1]");
    m_begin = begin;
    m_end = end;
}

void ProgressReporter::setProgressFraction(double fraction) {
    // NaN clamps to 0 rather than reaching the host's progress bar.
    const double f = fraction > 0.0 ? std::min(fraction, 1.0) : 0.0;
    const double overall = m_begin + f * (m_end - m_begin);
    if (overall == m_lastSent) return;
    m_lastSent = overall;
    m_sink->progressFraction(overall);
}

bool ProgressReporter::isInterrupted() const {
    if (!m_interrupted) m_interrupted = m_sink->interrupted();
    return m_interrupted;
}

std::unique_ptr<ProgressReporter> CreateProgressReporter(PX::Image::Op* op) {
    if (!op) throw std::invalid_argument("CreateProgressReporter needs an operator");
    return std::make_unique<ProgressReporter>(std::make_shared<detail::OpProgressSink>(op));
}

}  // namespace Research
}  // namespace Korvane
