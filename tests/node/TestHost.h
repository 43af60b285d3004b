// SPDX-License-Identifier: Apache-2.0
// The host of the node's tests, installed while it lives: answers questions from a queue (no
// when it runs dry), remembers what was asked and said and the progress shown, and cancels
// once `cancelWhen` says so. Button scripts count as run: what they start is the scripting
// host's business.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "px/image/Host.h"

namespace NodeTests {

class TestHost : public PX::Image::Host {
public:
    TestHost() { install(this); }
    ~TestHost() override { install(nullptr); }
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    bool runScript(PX::Image::Node*, const std::string&) override { return true; }
    bool ask(const std::string& question) override {
        questions.push_back(question);
        if (answers.empty()) return false;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    void message(const std::string& text) override { messages.push_back(text); }
    void progress(PX::Image::Node*, float fraction) override { fractions.push_back(fraction); }
    void progressMessage(PX::Image::Node*, const std::string& text) override {
        progressMessages.push_back(text);
    }
    void progressDismiss(PX::Image::Node*) override { ++dismissed; }
    void nodeWarning(PX::Image::Node*, const std::string& text) override {
        warnings.push_back(text);
    }
    bool cancelled(PX::Image::Node*) override { return cancelWhen && cancelWhen(); }

    std::deque<bool> answers;
    std::vector<std::string> questions;
    std::vector<std::string> messages;
    std::vector<float> fractions;
    std::vector<std::string> progressMessages;
    std::vector<std::string> warnings;
    int dismissed = 0;
    std::function<bool()> cancelWhen;
};

}  // namespace NodeTests
