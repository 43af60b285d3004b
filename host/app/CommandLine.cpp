// SPDX-License-Identifier: Apache-2.0
#include "CommandLine.h"

#include <algorithm>
#include <cstdlib>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include "CommandLineHost.h"
#include "Graph.h"
#include "Interruption.h"
#include "ScriptError.h"
#include "ScriptFile.h"
#include "kiln/WorkerPool.h"
#include "px/image/ButtonKnob.h"
#include "px/image/Executable.h"
#include "px/image/Format.h"
#include "px/image/Knob.h"
#include "px/image/Limits.h"
#include "px/image/Node.h"
#include "px/image/Op.h"
#include "px/image/OutputContext.h"
#include "px/image/Plugin.h"
#include "px/image/StringKnob.h"
#include "vellacam/WorkerThreads.h"

#ifndef VIREO_VERSION
#define VIREO_VERSION "unknown"
#endif

namespace Vireo {

using namespace PX::Image;

namespace {

// A bad command line: reported with the usage, exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// SIGINT and SIGTERM cancel for the life of the guard.
class InterruptionHandlers {
public:
    InterruptionHandlers() { Interruption::install(); }
    ~InterruptionHandlers() { Interruption::uninstall(); }
};

// Installs a host for the life of the guard.
class HostInstallation {
public:
    explicit HostInstallation(Host* host) { Host::install(host); }
    ~HostInstallation() { Host::install(nullptr); }
};

std::vector<std::string> splitAt(const std::string& text, char sep) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : text) {
        if (c == sep) {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    out.push_back(cur);
    return out;
}

int parseFrame(const std::string& word, const std::string& whole) {
    try {
        size_t used = 0;
        const long long f = std::stoll(word, &used);
        if (used == word.size() && std::llabs(f) <= Limits::kMaxFrame) return int(f);
        if (used == word.size())
            throw std::invalid_argument("frame " + word + " in '" + quoteForMessage(whole) +
                                        "' is outside -" + std::to_string(Limits::kMaxFrame) +
                                        " to " + std::to_string(Limits::kMaxFrame));
    } catch (const std::invalid_argument& e) {
        if (std::string(e.what()).rfind("frame ", 0) == 0) throw;
    } catch (const std::out_of_range&) {
    }
    throw std::invalid_argument("'" + quoteForMessage(whole) +
                                "' is not a frame list (A-B or A,B,C)");
}

}  // namespace

const char* CommandLine::usage() {
    return "usage: vireo SCRIPT [options]\n"
           "  --render NODE           execute the Write node NODE\n"
           "  --frames A-B | A,B,C    frames to render (default: the script's frame range)\n"
           "  --views V1,V2           views to render (sets the node's 'views' knob)\n"
           "  --knobs NODE            print the knobs of NODE with their values\n"
           "  --set NODE.KNOB=VALUE   set a knob after loading, as a user edit (repeatable)\n"
           "  --yes, --no             queue the answer to the next question (default: no)\n"
           "  --save OUT              save the script, with the edits, to OUT\n"
           "  --threads N             worker threads of the whole process (default: the\n"
           "                          environment variable VIREO_THREADS, else every core)\n"
           "  -t PY [ARGS...]         run the Python script PY with the module vireo after\n"
           "                          loading and the edits (ARGS: its sys.argv); SCRIPT is\n"
           "                          optional then\n"
           "       vireo [--yes | --no]... -t PY [ARGS...]\n"
           "       vireo --info              the host, its plug-in path and loaded plug-ins\n"
           "       vireo --describe CLASS    a new node of CLASS and its knobs\n"
           "       vireo --help | --version\n";
}

std::vector<int> CommandLine::parseFrames(const std::string& text) {
    std::vector<int> frames;
    if (text.find(',') != std::string::npos) {
        const std::vector<std::string> words = splitAt(text, ',');
        if (words.size() > Limits::kMaxFrames)
            throw std::invalid_argument("--frames lists more than " +
                                        std::to_string(Limits::kMaxFrames) + " frames");
        for (const std::string& w : words) frames.push_back(parseFrame(w, text));
        return frames;
    }
    const size_t dash = text.find('-', 1);  // a leading '-' is a sign
    if (dash == std::string::npos) return {parseFrame(text, text)};
    const int first = parseFrame(text.substr(0, dash), text);
    const int last = parseFrame(text.substr(dash + 1), text);
    if (last < first)
        throw std::invalid_argument("frame range '" + quoteForMessage(text) + "' runs backwards");
    return frameSpan(first, last, 1, "--frames " + quoteForMessage(text));
}

void CommandLine::printKnobs(const Node& node, std::ostream& out) {
    // The panel as a user would see it: tab by tab, headings as "-- Heading --", each knob
    // with its value, kind, label, flags and state, and its tooltip on the next line.
    out << node.name() << " (" << node.className() << ")\n";
    out << "[" << node.op()->displayName() << "]\n";
    for (const auto& k : node.knobs()) {
        const std::string kind = k->Class();
        if (kind == "Tab_Knob") {
            out << "[" << k->label() << "]\n";
            continue;
        }
        if (k->name().empty()) {
            const std::string& label = k->label();
            if (kind == "Text_Knob" && label.find_first_not_of(' ') != std::string::npos)
                out << "  -- " << label << " --\n";
            continue;
        }
        std::ostringstream value;
        if (auto* text = dynamic_cast<const TextKnob*>(k.get()))
            value << quoteScriptText(text->text());
        else if (!k->to_script(value, nullptr, true) && dynamic_cast<ButtonKnob*>(k.get()))
            value << "[button]";
        std::ostringstream flags;
        flags << "0x" << std::hex << k->flags();
        out << "  " << std::left << std::setw(16) << k->name() << ' ' << value.str() << "    # "
            << kind << ", \"" << k->label() << "\", flags " << flags.str()
            << (k->flag(Knob::INVISIBLE) ? ", hidden" : "") << (!k->visible() ? ", not shown" : "")
            << (!k->enabled() ? ", disabled" : "") << '\n';
        if (!k->tooltip().empty()) out << "      " << k->tooltip() << '\n';
    }
}

int CommandLine::info() {
    m_out << "vireo " << VIREO_VERSION << " command-line host\nplug-in path:";
    for (const std::string& folder : Plugins::searchPath()) m_out << ' ' << folder;
    m_out << '\n';
    const std::vector<std::string> errors = Plugins::loadAll();
    for (const std::string& e : errors) m_err << "vireo: " << e << '\n';
    const auto descriptions = Op::Description::all();
    m_out << "operators: " << descriptions.size() << '\n';
    for (const Op::Description* d : descriptions)
        m_out << "  " << d->name << "  ("
              << (d->pluginFile.empty() ? std::string("built in") : d->pluginFile) << ", built "
              << d->build << ")\n";
    m_out << "views:";
    for (const std::string& v : Views::names()) m_out << ' ' << v;
    m_out << "\nformats:";
    for (const Format& f : Format::formats())
        m_out << ' ' << f.name() << ' ' << f.width() << 'x' << f.height();
    m_out << '\n';
    return errors.empty() ? 0 : 1;
}

int CommandLine::describe(const std::string& className) {
    try {
        Graph graph;
        printKnobs(*graph.addNode(className), m_out);
        return 0;
    } catch (const std::exception& e) {
        m_err << "vireo: --describe: " << e.what() << '\n';
        return 1;
    }
}

bool CommandLine::applyThreadSetting(const std::string& option) {
    // One setting sizes every pool of the process: the compute framework's, which runs the
    // node's parallel loops, and the rig library's matching.
    unsigned threads = 0;
    try {
        if (!option.empty()) {
            threads = Kiln::WorkerPool::ParseThreadCount(option, "--threads");
            Kiln::WorkerPool::SetThreadCount(threads);
        } else if (const char* env = std::getenv(Kiln::WorkerPool::kEnvironmentVariable)) {
            threads =
                Kiln::WorkerPool::ParseThreadCount(env, Kiln::WorkerPool::kEnvironmentVariable);
        } else {
            threads = Kiln::WorkerPool::ThreadCount();
        }
    } catch (const std::exception& e) {
        m_err << "vireo: " << e.what() << '\n';
        return false;
    }
    Korvane::Research::SetWorkerThreads(threads);
    return true;
}

int CommandLine::interrupted(Graph& graph, const std::string& savePath) {
    const int signal = Interruption::signalNumber();
    m_err << "vireo: interrupted by " << Interruption::signalName(signal)
          << "; the steps not yet begun are skipped" << (savePath.empty() ? "" : ", but not --save")
          << '\n';
    if (!savePath.empty()) {
        try {
            ScriptFile::save(graph, savePath);
            m_err << "vireo: saved what was finished to " << savePath << '\n';
        } catch (const std::exception& e) {
            m_err << "vireo: " << e.what() << '\n';
        }
    }
    return 128 + signal;
}

int CommandLine::render(Graph& graph,
                        const std::string& nodeName,
                        const std::string& frameText,
                        const std::string& viewText) {
    Node* node = graph.node(nodeName);
    if (!node) {
        m_err << "vireo: --render: the script has no node '" << nodeName << "'\n";
        return 1;
    }
    if (!node->op()->executable()) {
        m_err << "vireo: --render: node '" << nodeName << "' (" << node->className()
              << ") cannot be executed; render a Write node\n";
        return 1;
    }
    std::vector<int> frames;
    try {
        frames = frameText.empty() ? frameSpan(graph.settings().firstFrame,
                                               graph.settings().lastFrame,
                                               1,
                                               "the script's frame range")
                                   : parseFrames(frameText);
    } catch (const std::invalid_argument& e) {
        m_err << "vireo: --render: " << e.what() << '\n';
        return 1;
    }
    if (!viewText.empty()) {
        std::string names;
        for (const std::string& v : splitAt(viewText, ',')) {
            if (Views::find(v) < 0) {
                m_err << "vireo: --views: the project has no view '" << v << "' (it has";
                for (const std::string& known : Views::names()) m_err << ' ' << known;
                m_err << ")\n";
                return 1;
            }
            names += (names.empty() ? "" : " ") + v;
        }
        node->setKnobFromUser("views", names);
    }

    // A pattern without the view (%V) or the frame (####, %04d) writes every view or frame
    // over one file.
    if (const Knob* file = node->knob("file")) {
        const std::string pattern = file->toScriptText();
        const Knob* viewsKnob = node->knob("views");
        std::istringstream viewWords(viewsKnob ? viewsKnob->toScriptText() : "");
        size_t viewCount = 0;
        for (std::string w; viewWords >> w;) ++viewCount;
        const bool frameToken = pattern.find('#') != std::string::npos ||
                                pattern.find("%d") != std::string::npos ||
                                pattern.find("%0") != std::string::npos;
        if (pattern.find("%V") == std::string::npos && viewCount > 1)
            m_err << "vireo: warning: " << nodeName << ": the file pattern has no %V: every "
                  << "view is written to the same file\n";
        if (!frameToken && frames.size() > 1)
            m_err << "vireo: warning: " << nodeName << ": the file pattern has no #### (or "
                  << "%04d): every frame is written to the same file\n";
    }
    m_err << "vireo: rendering " << nodeName << ", " << frames.size() << " frame"
          << (frames.size() == 1 ? "" : "s") << std::endl;
    const ExecuteResult result = execute(node->op(), frames);
    if (!result.error.empty()) {
        m_err << "vireo: render of " << nodeName << " failed: " << result.error << '\n';
        return 1;
    }
    if (result.cancelled) {
        // The frames begun before the cancel are finished and their files written whole.
        m_err << "vireo: render of " << nodeName << " cancelled after " << result.framesRun
              << " of " << frames.size() << " frames\n";
        return 1;
    }
    m_err << "vireo: " << nodeName << ": " << result.framesRun << " frame"
          << (result.framesRun == 1 ? "" : "s") << " done";
    // Frames the node had nothing to do on (an analysis skips frames between its keys).
    if (result.framesSkipped > 0) m_err << ", " << result.framesSkipped << " skipped";
    m_err << std::endl;
    // Frames made short of what was asked for (a camera left out of a panorama) are written,
    // but a render farm must not take them for finished work.
    const std::vector<int>& warned = result.framesWithWarnings;
    if (warned.empty()) return 0;
    m_err << "vireo: render of " << nodeName << ": " << warned.size() << " of " << result.framesRun
          << " frame" << (result.framesRun == 1 ? "" : "s") << " written with a warning (frame"
          << (warned.size() == 1 ? " " : "s ");
    for (size_t i = 0; i < warned.size() && i < 10; ++i) m_err << (i ? ", " : "") << warned[i];
    if (warned.size() > 10) m_err << " and " << warned.size() - 10 << " more";
    m_err << "); see the warnings above" << std::endl;
    return 1;
}

std::unique_ptr<CommandLineHost> CommandLine::makeHost() {
    return std::make_unique<CommandLineHost>(m_err);
}

int CommandLine::runPython(CommandLineHost&,
                           std::unique_ptr<Graph>&,
                           const std::string& path,
                           const std::vector<std::string>&) {
    m_err << "vireo: -t " << path << ": this host has no Python\n";
    return 2;
}

int CommandLine::run(const std::vector<std::string>& args) {
    std::string script, knobsNode, renderNode, frames, views, savePath, python, threads;
    std::vector<std::string> sets, pythonArgs;
    std::vector<bool> answers;
    try {
        // An empty value (an unset shell variable: --save "$OUT") would skip its step in
        // silence, as if the option had not been given.
        auto value = [&args](size_t& i) -> const std::string& {
            if (i + 1 >= args.size()) throw UsageError(args[i] + " needs a value");
            if (args[i + 1].empty()) throw UsageError(args[i] + " needs a value, not empty text");
            return args[++i];
        };
        for (size_t i = 0; i < args.size(); ++i) {
            const std::string& a = args[i];
            if (a == "--help" || a == "-h") {
                m_out << usage();
                return 0;
            }
            if (a == "--version") {
                m_out << "vireo " << VIREO_VERSION << '\n';
                return 0;
            }
            if (a == "--info" && args.size() == 1) return info();
            if (a == "--describe" && args.size() == 2) return describe(args[1]);
            if (a == "--threads")
                threads = value(i);
            else if (a == "--set")
                sets.push_back(value(i));
            else if (a == "--yes" || a == "--no")
                answers.push_back(a == "--yes");
            else if (a == "--knobs")
                knobsNode = value(i);
            else if (a == "--render")
                renderNode = value(i);
            else if (a == "--frames")
                frames = value(i);
            else if (a == "--views")
                views = value(i);
            else if (a == "--save")
                savePath = value(i);
            else if (a == "-t") {
                python = value(i);
                pythonArgs.assign(args.begin() + std::ptrdiff_t(i) + 1, args.end());
                break;
            } else if (!a.empty() && a[0] != '-' && script.empty())
                script = a;
            else
                throw UsageError("unknown argument '" + a + "'");
        }
        if (script.empty() && python.empty()) throw UsageError("no script given");
        if (renderNode.empty() && (!frames.empty() || !views.empty()))
            throw UsageError("--frames and --views go with --render");
        if (!frames.empty()) parseFrames(frames);
        if (!applyThreadSetting(threads)) return 2;
    } catch (const std::exception& e) {
        m_err << "vireo: " << e.what() << '\n' << usage();
        return 2;
    }

    const std::unique_ptr<CommandLineHost> host = makeHost();
    HostInstallation installed(host.get());
    InterruptionHandlers interruptions;
    for (bool yes : answers) host->queueAnswer(yes);
    try {
        std::unique_ptr<Graph> graph = std::make_unique<Graph>();
        bool refused = false;
        if (!script.empty()) {
            ScriptFile file(script);
            graph = file.load();
            for (const std::string& w : file.warnings()) m_err << "vireo: warning: " << w << '\n';
            for (const std::string& e : file.errors()) m_err << "vireo: error: " << e << '\n';
            refused = !file.errors().empty();
        }

        for (const std::string& s : sets) {
            const size_t dot = s.find('.');
            const size_t eq = s.find('=');
            if (dot == std::string::npos || eq == std::string::npos || eq < dot) {
                m_err << "vireo: --set " << s << ": expected NODE.KNOB=VALUE\n";
                return 1;
            }
            const std::string nodeName = s.substr(0, dot);
            Node* node = graph->node(nodeName);
            if (!node) {
                m_err << "vireo: --set " << s << ": the script has no node '" << nodeName << "'\n";
                return 1;
            }
            const std::string knobName = s.substr(dot + 1, eq - dot - 1);
            if (!node->knob(knobName)) {
                m_err << "vireo: --set " << s << ": node '" << nodeName << "' has no knob '"
                      << knobName << "'\n";
                return 1;
            }
            try {
                node->setKnobFromUser(knobName, s.substr(eq + 1));
            } catch (const std::exception& e) {
                m_err << "vireo: --set " << s << ": node '" << nodeName << "': " << e.what()
                      << '\n';
                return 1;
            }
        }
        if (!python.empty()) {
            const int status = runPython(*host, graph, python, pythonArgs);
            if (Interruption::signalNumber() != 0) return interrupted(*graph, savePath);
            if (status != 0) return status;
        }
        if (!knobsNode.empty()) {
            Node* node = graph->node(knobsNode);
            if (!node) {
                m_err << "vireo: --knobs: the script has no node '" << knobsNode << "'\n";
                return 1;
            }
            printKnobs(*node, m_out);
        }
        if (!renderNode.empty()) {
            const int status = render(*graph, renderNode, frames, views);
            if (Interruption::signalNumber() != 0) return interrupted(*graph, savePath);
            if (status != 0) return status;
        }
        if (!savePath.empty()) ScriptFile::save(*graph, savePath);
        if (Interruption::signalNumber() != 0) return interrupted(*graph, {});
        return refused ? 1 : 0;
    } catch (const std::exception& e) {
        m_err << "vireo: " << e.what() << '\n';
        return 1;
    }
}

}  // namespace Vireo
