// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace Korvane {
namespace Research {

/// Where a ProgressReporter sends its fractions and asks about cancellation: the host
/// operator that runs the work, or a recorder in tests.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    /// Overall fraction of the work done, 0 to 1.
    virtual void progressFraction(double fraction) = 0;
    /// True once the user cancelled or the host aborted the work.
    virtual bool interrupted() const = 0;
};

}  // namespace Research
}  // namespace Korvane
