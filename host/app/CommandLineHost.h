// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <deque>
#include <iosfwd>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "px/image/Host.h"

namespace Vireo {

/// The host services of the command line: progress, messages and node errors as lines on
/// the error stream ("vireo: [Node] 42%"), and questions answered from a queue filled by
/// --yes and --no, in order, then from a standing answer a script set (vireo.setAskAnswer).
/// Without either the answer is no, because a yes can destroy work. Every answer is logged
/// with the question and where it came from.
/// Progress and errors may come from render threads; the stream is written under a lock.
class CommandLineHost : public PX::Image::Host {
public:
    explicit CommandLineHost(std::ostream& log) : m_log(log) {}

    /// Queues the answer to the next question not yet answered.
    void queueAnswer(bool yes);
    size_t queuedAnswers() const { return m_answers.size(); }
    /// The answer once the queue is empty; nullopt goes back to no.
    void setStandingAnswer(std::optional<bool> yes) { m_standing = yes; }

    void progress(PX::Image::Node* node, float fraction) override;
    void progressMessage(PX::Image::Node* node, const std::string& message) override;
    void progressDismiss(PX::Image::Node* node) override {}
    /// True once SIGINT or SIGTERM came (Interruption).
    bool cancelled(PX::Image::Node* node) override;
    bool ask(const std::string& question) override;
    void message(const std::string& text) override;
    /// "vireo: error: [Node] ..." and "vireo: warning: [Node] ...". A node validated again
    /// (another view, the next frame) raises the same error or warning again: a text is
    /// printed only when it is not the last one that node printed.
    void nodeError(PX::Image::Node* node, const std::string& message) override;
    void nodeWarning(PX::Image::Node* node, const std::string& message) override;

protected:
    /// One "vireo: TEXT" line on the log, under the lock.
    void line(const std::string& text);
    /// Whether `message` is the text last kept in `last` for `node`; keeps it when not.
    bool printedLast(std::map<std::string, std::string>& last,
                     PX::Image::Node* node,
                     const std::string& message);

private:
    std::ostream& m_log;
    std::mutex m_mutex;
    std::deque<bool> m_answers;
    std::optional<bool> m_standing;
    /// The last error and the last warning printed for each node, by name.
    std::map<std::string, std::string> m_lastError, m_lastWarning;
};

}  // namespace Vireo
