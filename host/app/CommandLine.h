// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace PX {
namespace Image {
class Node;
}
}  // namespace PX

namespace Vireo {

class CommandLineHost;
class Graph;

/// The vireo command line (see usage()):
///
///   vireo SCRIPT [--set NODE.KNOB=VALUE]... [--yes | --no]... [--knobs NODE]
///                [--render WRITE [--frames A-B | --frames A,B,C] [--views V1,V2]] [--save OUT]
///                [-t PYTHON [ARGS...]]
///   vireo [--yes | --no]... -t PYTHON [ARGS...]
///   vireo --info | --describe CLASS | --help | --version
///
/// The steps run in this order: load the script (none: an empty graph), the --set edits (as
/// user edits, in order), the Python script of -t (everything after it is its sys.argv; it
/// may replace the graph), --knobs, --render, --save. --views sets the Write node's `views` knob,
/// so a --save after it records them. Without --frames a render covers the project's frame range.
///
/// SIGINT and SIGTERM cancel the running execution as a panel's Cancel would (Interruption);
/// the steps after it are skipped except --save, which keeps what was finished, and the exit
/// status is 128 + the signal's number. --threads N (else VIREO_THREADS) sizes every worker
/// pool of the process.
///
/// Exit status: 0 when all went well; 1 when the script, an edit, a render or a save failed,
/// or when the script held a knob value that was refused (the rest still ran); 2 for a
/// command line that cannot be understood. Messages go to `err` and name the file, the node
/// or the knob; what was asked for (knobs, info) goes to `out`.
class CommandLine {
public:
    CommandLine(std::ostream& out, std::ostream& err) : m_out(out), m_err(err) {}
    virtual ~CommandLine() = default;

    int run(const std::vector<std::string>& args);

    static const char* usage();
    /// "A-B" (inclusive), "A,B,C" or "A". Throws std::invalid_argument.
    static std::vector<int> parseFrames(const std::string& text);
    /// Each knob that has a name and writes a value: name, value as saved, class and label.
    static void printKnobs(const PX::Image::Node& node, std::ostream& out);

protected:
    /// The host installed for the run.
    virtual std::unique_ptr<CommandLineHost> makeHost();
    /// Runs the -t script over `graph` (which it may replace); the exit status. This one has
    /// no Python: it says so and returns 2.
    virtual int runPython(CommandLineHost& host,
                          std::unique_ptr<Graph>& graph,
                          const std::string& path,
                          const std::vector<std::string>& args);

    std::ostream& m_out;
    std::ostream& m_err;

private:
    int info();
    int describe(const std::string& className);
    /// --threads N, else VIREO_THREADS, sizes the worker pools; false (reported) when the
    /// count is not one.
    bool applyThreadSetting(const std::string& option);
    /// After SIGINT or SIGTERM: says so, runs --save (when given) so that finished work is
    /// kept, and returns 128 + the signal's number.
    int interrupted(Graph& graph, const std::string& savePath);
    int render(Graph& graph,
               const std::string& nodeName,
               const std::string& frames,
               const std::string& views);
};

}  // namespace Vireo
