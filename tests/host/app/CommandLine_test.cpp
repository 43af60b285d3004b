// SPDX-License-Identifier: Apache-2.0
#include "CommandLine.h"

#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "CommandLineHost.h"
#include "Graph.h"
#include "px/image/Node.h"

using Vireo::CommandLine;

TEST(CommandLine, FrameLists) {
    EXPECT_EQ(CommandLine::parseFrames("3-6"), (std::vector<int>{3, 4, 5, 6}));
    EXPECT_EQ(CommandLine::parseFrames("-2-1"), (std::vector<int>{-2, -1, 0, 1}));
    EXPECT_EQ(CommandLine::parseFrames("9,2,5"), (std::vector<int>{9, 2, 5}));
    EXPECT_EQ(CommandLine::parseFrames("7"), std::vector<int>{7});
    for (const char* bad :
         {"", "6-3", "1,,2", "1-x", "1.5", "11-2000000000", "1-1000001", "99999999999999999999"})
        EXPECT_THROW(CommandLine::parseFrames(bad), std::invalid_argument) << bad;
    EXPECT_EQ(CommandLine::parseFrames("1-1000000").size(), 1000000u) << "the limit itself";
}

// An option given empty text (an unset shell variable) is refused before anything runs, not
// taken as absent: "--save ''" once skipped the save and exited 0.
TEST(CommandLine, AnEmptyOptionValueIsAUsageError) {
    for (const char* option : {"--save", "--render", "--knobs", "--frames", "--views", "-t"}) {
        std::ostringstream out, err;
        CommandLine commandLine(out, err);
        EXPECT_EQ(commandLine.run({"missing.vireo", option, ""}), 2) << option;
        EXPECT_NE(err.str().find(std::string("vireo: ") + option + " needs a value"),
                  std::string::npos)
            << err.str();
        EXPECT_EQ(err.str().find("missing.vireo"), std::string::npos) << "nothing was loaded";
    }
}

// Answers come from the queue in order, then no; each one is logged with its question.
TEST(CommandLineHost, QuestionsTakeQueuedAnswersThenNo) {
    std::ostringstream log;
    Vireo::CommandLineHost host(log);
    host.queueAnswer(true);
    host.queueAnswer(false);
    EXPECT_TRUE(host.ask("Delete all keys?"));
    EXPECT_FALSE(host.ask("Reset the grid?"));
    EXPECT_FALSE(host.ask("Really?"));
    EXPECT_EQ(log.str(),
              "vireo: question: Delete all keys? -> yes (--yes)\n"
              "vireo: question: Reset the grid? -> no (--no)\n"
              "vireo: question: Really? -> no (the default; --yes answers yes)\n");
}

TEST(CommandLine, KnobsPrintTabByTabWithFlagsStateAndTooltips) {
    Vireo::Graph graph;
    PX::Image::Node* write = graph.addNode("Write", "Write1");
    write->knob("views")->set_flag(PX::Image::Knob::INVISIBLE);
    write->knob("channels")->disable();
    write->knob("file")->tooltip("Where the images go.");
    std::ostringstream out;
    Vireo::CommandLine::printKnobs(*write, out);
    const std::string text = out.str();
    EXPECT_EQ(text.rfind("Write1 (Write)\n[Write]\n", 0), 0u) << text;
    EXPECT_NE(text.find("  file "), std::string::npos) << text;
    EXPECT_NE(text.find("\n      Where the images go.\n"), std::string::npos) << text;
    EXPECT_NE(text.find(", flags 0x400, hidden\n"), std::string::npos) << text;
    EXPECT_NE(text.find(", disabled\n"), std::string::npos) << text;
}
