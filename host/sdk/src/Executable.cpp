// SPDX-License-Identifier: Apache-2.0
#include "px/image/Executable.h"

#include <algorithm>
#include <stdexcept>

#include "px/image/Host.h"
#include "px/image/Node.h"
#include "px/image/Op.h"
#include "px/image/UndoStack.h"

namespace PX {
namespace Image {

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
    exe->beginExecuting();
    for (size_t i = 0; i < frames.size(); ++i) {
        const int frame = frames[i];
        Host::current().progress(node, float(i) / float(frames.size()));
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
        exe->execute();
        ++result.framesRun;
        if (result.error.empty() && node->hasError()) result.error = node->errorMessage();
    }
    exe->endExecuting();
    Host::current().progressDismiss(node);
    if (result.error.empty() && node->hasError()) result.error = node->errorMessage();
    node->setUIContext(savedUI);
    return result;
}

}  // namespace Image
}  // namespace PX
