// SPDX-License-Identifier: Apache-2.0
#include "px/image/Executable.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "px/image/Host.h"
#include "px/image/Node.h"
#include "px/image/Op.h"
#include "px/image/UndoStack.h"

namespace PX {
namespace Image {

namespace {
constexpr int kNoFrame = std::numeric_limits<int>::min();
}  // namespace

ExecuteResult execute(Op* op, std::vector<int> frames) {
    Executable* exe = op ? op->executable() : nullptr;
    if (!exe)
        throw std::invalid_argument("node '" + (op ? op->node()->name() : std::string("?")) +
                                    "' cannot be executed");
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());

    Node* node = op->node();
    ExecuteResult result;
    node->clearError();
    const OutputContext savedUI = node->uiContext();
    // Everything an execution writes, from its begin to its end, is one undo step.
    struct Step {
        explicit Step(const std::string& name) { UndoStack::instance().begin(name); }
        ~Step() { UndoStack::instance().end(); }
    } step("Execute " + node->name());
    // A node that throws out of its executable (it should raise a node error instead) fails
    // the run with the exception's text as its error; the host goes on.
    auto guarded = [&](const char* step, int frame, auto&& call) {
        try {
            call();
            return true;
        } catch (const std::exception& e) {
            node->setError(std::string(step) +
                           (frame == kNoFrame ? "" : " frame " + std::to_string(frame)) + ": " +
                           e.what());
        } catch (...) {
            node->setError(std::string(step) + ": an unknown exception");
        }
        return false;
    };
    bool ok = guarded("starting", kNoFrame, [&] { exe->beginExecuting(); });
    for (size_t i = 0; ok && i < frames.size(); ++i) {
        const int frame = frames[i];
        const float share = 1.0f / float(frames.size());
        Host::current().progress(node, float(i) * share);
        node->setProgressSpan(float(i) * share, share);
        if (Host::current().cancelled(node)) {
            result.cancelled = true;
            break;
        }
        if (exe->skipFrame(frame)) {
            ++result.framesSkipped;
            continue;
        }
        OutputContext ui = node->uiContext();
        ui.setFrame(frame);
        node->setUIContext(ui);
        OutputContext out = op->outputContext();
        out.setFrame(frame);
        op->setOutputContext(out);
        node->storeKnobs(out);
        const unsigned long warningsBefore = Node::warningsRaised();
        ok = guarded("executing", frame, [&] { exe->execute(); });
        if (Node::warningsRaised() != warningsBefore) result.framesWithWarnings.push_back(frame);
        ++result.framesRun;
        if (result.error.empty() && node->hasError()) result.error = node->errorMessage();
    }
    node->setProgressSpan(0.0f, 1.0f);
    guarded("ending", kNoFrame, [&] { exe->endExecuting(); });
    Host::current().progressDismiss(node);
    if (result.error.empty() && node->hasError()) result.error = node->errorMessage();
    node->setUIContext(savedUI);
    return result;
}

}  // namespace Image
}  // namespace PX
