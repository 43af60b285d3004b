// SPDX-License-Identifier: Apache-2.0
// A host for panel tests: answers questions from a queue (no when it runs dry) and remembers
// what was asked and said. Button scripts count as run: what they start is the scripting
// host's business.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "px/image/Host.h"

namespace NodeTests {

class AnsweringHost : public PX::Image::Host {
public:
    bool runScript(PX::Image::Node*, const std::string&) override { return true; }
    bool ask(const std::string& question) override {
        questions.push_back(question);
        if (answers.empty()) return false;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    void message(const std::string& text) override { messages.push_back(text); }
    std::deque<bool> answers;
    std::vector<std::string> questions;
    std::vector<std::string> messages;
};

}  // namespace NodeTests
