// SPDX-License-Identifier: Apache-2.0
#include "CommandLineHost.h"

#include <ostream>

#include "Interruption.h"
#include "px/image/Node.h"

namespace Vireo {

namespace {

std::string label(PX::Image::Node* node) {
    return node ? "[" + node->name() + "] " : std::string();
}

}  // namespace

void CommandLineHost::line(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log << "vireo: " << text << std::endl;
}

void CommandLineHost::queueAnswer(bool yes) { m_answers.push_back(yes); }

void CommandLineHost::progress(PX::Image::Node* node, float fraction) {
    line(label(node) + std::to_string(int(fraction * 100.0f)) + "%");
}

void CommandLineHost::progressMessage(PX::Image::Node* node, const std::string& message) {
    line(label(node) + message);
}

bool CommandLineHost::cancelled(PX::Image::Node*) { return Interruption::signalNumber() != 0; }

bool CommandLineHost::ask(const std::string& question) {
    if (m_answers.empty() && m_standing) {
        line("question: " + question + " -> " + (*m_standing ? "yes" : "no") +
             " (standing answer)");
        return *m_standing;
    }
    if (m_answers.empty()) {
        line("question: " + question + " -> no (the default; --yes answers yes)");
        return false;
    }
    const bool yes = m_answers.front();
    m_answers.pop_front();
    line("question: " + question + " -> " + (yes ? "yes (--yes)" : "no (--no)"));
    return yes;
}

void CommandLineHost::message(const std::string& text) { line("message: " + text); }

void CommandLineHost::nodeError(PX::Image::Node* node, const std::string& message) {
    if (printedLast(m_lastError, node, message)) return;
    line("error: " + label(node) + message);
}

void CommandLineHost::nodeWarning(PX::Image::Node* node, const std::string& message) {
    if (printedLast(m_lastWarning, node, message)) return;
    line("warning: " + label(node) + message);
}

bool CommandLineHost::printedLast(std::map<std::string, std::string>& last,
                                  PX::Image::Node* node,
                                  const std::string& message) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string& text = last[node ? node->name() : std::string()];
    if (text == message) return true;
    text = message;
    return false;
}

}  // namespace Vireo
