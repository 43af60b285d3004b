// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <set>
#include <string>
#include <vector>

namespace PX {
namespace Image {

class Op;

/// The part of an operator that the host runs frame by frame (rather than renders): begin
/// once, execute each kept frame in increasing order on the main thread with the UI frame set
/// to it, end once. Errors go through the operator's error().
class Executable {
public:
    explicit Executable(Op* op) : m_op(op) {}
    virtual ~Executable() = default;

    virtual void beginExecuting() {}
    virtual void execute() = 0;
    virtual void endExecuting() {}
    /// Asked before each frame; true skips it.
    virtual bool skipFrame(double frame) { return false; }
    /// The set of view numbers the host would execute for; the host runs once per frame.
    virtual std::set<int> executeViews() const { return {}; }
    /// Whether frames may run on several threads, and whether the operator writes files.
    virtual bool isExecuteThreadSafe() const { return false; }
    virtual bool isWrite() const { return false; }

    Op* executableOp() const { return m_op; }

private:
    Op* m_op;
};

/// How a run ended.
struct ExecuteResult {
    int framesRun = 0;
    int framesSkipped = 0;
    bool cancelled = false;
    /// The frames during which a node warning was raised (Op::warning), in order: their
    /// output was made short of what was asked for.
    std::vector<int> framesWithWarnings;
    /// The first node error raised during the run, empty when none.
    std::string error;
};

/// Runs `op`'s executable over `frames` (sorted ascending first, duplicates dropped): begin;
/// for each frame not skipped, the node's UI frame is set to it, its knobs stored, and
/// execute() called; a cancel (Host::cancelled) stops before the next frame; end always
/// runs. The host hears the fraction of frames done before each frame (Host::progress) and
/// a progressDismiss at the end. An exception thrown out of begin, a frame or end becomes
/// the node's error (the step and frame, then the exception's text) and ends the run (end
/// still runs after a failed frame). Everything the run writes is one undo step. Throws
/// std::invalid_argument when `op` has no executable part.
ExecuteResult execute(Op* op, std::vector<int> frames);

}  // namespace Image
}  // namespace PX
