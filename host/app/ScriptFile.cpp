// SPDX-License-Identifier: Apache-2.0
#include "ScriptFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "AtomicFile.h"
#include "ScriptError.h"
#include "px/image/Knob.h"
#include "px/image/Limits.h"
#include "px/image/OutputContext.h"
#include "px/image/UndoStack.h"

namespace Vireo {

using PX::Image::Knob;
using PX::Image::Node;

namespace {

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

bool parseInt(const std::string& word, int* value) {
    try {
        size_t used = 0;
        *value = std::stoi(word, &used);
        return used == word.size();
    } catch (const std::exception&) {
        return false;
    }
}

// Open braces minus closing ones, outside double-quoted text, counted as text is added, so
// that a value continued over many lines is scanned once.
class BraceCount {
public:
    int add(const std::string& text) {
        for (const char c : text) {
            if (m_escaped) {
                m_escaped = false;
            } else if (m_quoted) {
                if (c == '\\')
                    m_escaped = true;
                else if (c == '"')
                    m_quoted = false;
            } else if (c == '"') {
                m_quoted = true;
            } else if (c == '{') {
                ++m_depth;
            } else if (c == '}') {
                --m_depth;
            }
        }
        return m_depth;
    }
    int depth() const { return m_depth; }

private:
    int m_depth = 0;
    bool m_quoted = false;
    bool m_escaped = false;
};

int braceDepth(const std::string& text) { return BraceCount().add(text); }

// True when `text` is one quoted string: a '"', escaped characters, and a closing '"' last.
bool wellQuoted(const std::string& text) {
    for (size_t i = 1; i < text.size(); ++i) {
        if (text[i] == '\\')
            ++i;
        else if (text[i] == '"')
            return i + 1 == text.size();
    }
    return false;
}

// Loading a script is not a user action: nothing goes to the undo history.
class UndoSuspension {
public:
    UndoSuspension() { PX::Image::UndoStack::instance().suspend(); }
    ~UndoSuspension() { PX::Image::UndoStack::instance().resume(); }
};

struct Connection {
    int line;
    std::string text;
    std::string from, to;
    int input;
};

}  // namespace

std::unique_ptr<Graph> ScriptFile::load() {
    std::error_code ec;
    if (std::filesystem::is_directory(m_name, ec))
        throw ScriptError(m_name + ": cannot open for reading: it is a folder");
    std::ifstream in(m_name, std::ios::binary);
    if (!in) throw ScriptError(m_name + ": cannot open for reading: " + std::strerror(errno));
    return read(in);
}

std::vector<std::string> ScriptFile::readLines(std::istream& in) const {
    // Bounded as it goes: an endless or huge file (a device, a wrong path) is refused once it
    // passes the limits, never read whole into memory.
    std::vector<std::string> lines;
    std::string line;
    size_t total = 0;
    char buffer[65536];
    auto finish = [&] {
        // CR-LF line ends, and any carriage returns before them: a value that holds one is
        // saved quoted, so none at a line's end is the value's.
        while (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        line.clear();
    };
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        const size_t n = size_t(in.gcount());
        total += n;
        if (total > PX::Image::Limits::kMaxScriptBytes)
            throw ScriptError(m_name + ": not read: a script holds at most " +
                              std::to_string(PX::Image::Limits::kMaxScriptBytes >> 20) + " MiB");
        for (size_t start = 0; start < n;) {
            const char* nl = static_cast<const char*>(std::memchr(buffer + start, '\n', n - start));
            const size_t end = nl ? size_t(nl - buffer) : n;
            line.append(buffer + start, end - start);
            if (line.size() > PX::Image::Limits::kMaxScriptLineBytes)
                throw ScriptError(m_name + ":" + std::to_string(lines.size() + 1) +
                                  ": not read: a line holds at most " +
                                  std::to_string(PX::Image::Limits::kMaxScriptLineBytes >> 20) +
                                  " MiB");
            if (!nl) break;
            finish();
            start = end + 1;
        }
    }
    if (!line.empty()) finish();
    if (in.bad()) throw ScriptError(m_name + ": reading failed: " + std::strerror(errno));
    return lines;
}

std::unique_ptr<Graph> ScriptFile::read(std::istream& in) {
    m_warnings.clear();
    m_errors.clear();
    const std::vector<std::string> lines = readLines(in);

    auto graph = std::make_unique<Graph>();
    const std::vector<std::string> savedViews = PX::Image::Views::names();
    UndoSuspension quiet;
    try {
        PX::Image::Views::setNames({"main"});  // a script without "views" has the default
        bool header = false;
        bool nodesSeen = false;
        Node* current = nullptr;
        size_t currentLine = 0;
        std::vector<Connection> connections;
        auto where = [this](size_t i) { return m_name + ":" + std::to_string(i + 1); };
        auto fail = [&](size_t i, const std::string& what) {
            throw ScriptError(where(i) + ": " + what + ": " + PX::Image::quoteForMessage(lines[i]));
        };

        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string s = trim(lines[i]);
            if (s.empty() || s[0] == '#') continue;
            const size_t blank = s.find_first_of(" \t");
            const std::string word = s.substr(0, blank);
            const std::string rest = blank == std::string::npos ? "" : trim(s.substr(blank));

            if (!header) {
                if (word != "vireo" || rest != "1")
                    fail(i, "expected \"vireo 1\", the script format and its version");
                header = true;
                continue;
            }
            if (current) {
                if (word == "end" && rest.empty()) {
                    current = nullptr;
                    continue;
                }
                const size_t start = i;
                std::string value = rest;
                if (!value.empty() && value[0] == '{') {
                    BraceCount braces;
                    braces.add(value);
                    while (braces.depth() > 0 && i + 1 < lines.size()) {
                        value += '\n';
                        braces.add("\n");
                        value += lines[++i];
                        braces.add(lines[i]);
                    }
                    if (braces.depth() != 0) fail(start, "unbalanced braces");
                    value = trim(value);
                }
                // A line the node cannot take is kept as read, for the next save.
                auto keep = [&](Knob* knob) {
                    std::string read = lines[start];
                    for (size_t j = start + 1; j <= i; ++j) read += '\n' + lines[j];
                    graph->keepLine(current,
                                    {knob ? knob->name() : word,
                                     std::move(read),
                                     !knob,
                                     knob ? knob->toScriptText() : std::string()});
                };
                Knob* knob = current->knob(word);
                if (!knob) {
                    m_warnings.push_back(where(start) + ": node '" + current->name() +
                                         "' has no knob '" + PX::Image::quoteForMessage(word) +
                                         "'; the line is skipped");
                    keep(nullptr);
                    continue;
                }
                const bool quoted = !value.empty() && value[0] == '"';
                if (quoted && !wellQuoted(value)) {
                    m_errors.push_back(where(start) + ": node '" + current->name() + "': knob '" +
                                       word + "': unterminated quoted text " +
                                       PX::Image::quoteForMessage(value));
                    keep(knob);
                    continue;
                }
                const std::string text = quoted ? PX::Image::unquoteScriptText(value) : value;
                if (!knob->from_script(text.c_str())) {
                    m_errors.push_back(where(start) + ": node '" + current->name() + "': " +
                                       (knob->error().empty()
                                            ? "knob '" + word + "' cannot read " +
                                                  PX::Image::quoteForMessage(value)
                                            : knob->error()));
                    keep(knob);
                }
                continue;
            }

            try {
                if (word == "views" || word == "frames" || word == "format") {
                    if (nodesSeen) fail(i, "project settings come before the first node");
                    const std::vector<std::string> w = words(rest);
                    if (word == "views") {
                        graph->setViews(w);
                    } else if (word == "frames") {
                        int first = 0, last = 0;
                        if (w.size() != 2 || !parseInt(w[0], &first) || !parseInt(w[1], &last))
                            fail(i, "expected \"frames FIRST LAST\"");
                        graph->setFrameRange(first, last);
                    } else {
                        graph->setDefaultFormat(rest);
                    }
                } else if (word == "node") {
                    const std::vector<std::string> w = words(rest);
                    if (w.size() != 2) fail(i, "expected \"node CLASS NAME\"");
                    current = graph->addNode(w[0], w[1]);
                    currentLine = i;
                    nodesSeen = true;
                } else if (word == "connect") {
                    const std::vector<std::string> w = words(rest);
                    int input = 0;
                    if (w.size() != 3 || !parseInt(w[2], &input))
                        fail(i, "expected \"connect FROM TO INPUT\"");
                    connections.push_back({int(i), lines[i], w[0], w[1], input});
                } else {
                    fail(i, "unknown statement '" + PX::Image::quoteForMessage(word) + "'");
                }
            } catch (const ScriptError&) {
                throw;
            } catch (const std::exception& e) {
                fail(i, e.what());
            }
        }
        if (!header) throw ScriptError(m_name + ": not a script: \"vireo 1\" is missing");
        if (current) fail(currentLine, "node '" + current->name() + "' has no \"end\"");

        for (const Connection& c : connections) {
            Node* from = graph->node(c.from);
            Node* to = graph->node(c.to);
            if (!from) fail(size_t(c.line), "no node called '" + c.from + "'");
            if (!to) fail(size_t(c.line), "no node called '" + c.to + "'");
            try {
                graph->connect(from, to, c.input, false);
            } catch (const std::exception& e) {
                fail(size_t(c.line), e.what());
            }
        }
        const std::vector<std::string> cycle = graph->findCycle();
        if (!cycle.empty()) throw ScriptError(m_name + ": " + Graph::cycleMessage(cycle));
    } catch (...) {
        PX::Image::Views::setNames(savedViews);
        throw;
    }
    return graph;
}

std::string ScriptFile::text(const Graph& graph) {
    std::ostringstream out;
    out << "# vireo script\nvireo 1\nviews";
    for (const std::string& v : graph.views()) out << ' ' << v;
    const ProjectSettings& s = graph.settings();
    out << "\nframes " << s.firstFrame << ' ' << s.lastFrame << "\nformat " << s.defaultFormat
        << '\n';

    for (const auto& node : graph.nodes()) {
        out << "\nnode " << node->className() << ' ' << node->name() << '\n';
        const std::vector<Graph::KeptLine>& kept = graph.keptLines(node.get());
        for (const auto& knob : node->knobs()) {
            // A value the knob refused on loading, not set since: written back as it was read.
            auto refused = std::find_if(kept.begin(), kept.end(), [&](const Graph::KeptLine& k) {
                return !k.missingKnob && k.knob == knob->name();
            });
            if (refused != kept.end() && knob->toScriptText() == refused->refusedState) {
                out << refused->text << '\n';
                continue;
            }
            if (knob->name().empty() || knob->flag(Knob::DO_NOT_WRITE) || !knob->not_default())
                continue;
            std::ostringstream os;  // a fresh stream: default number format for every knob
            if (!knob->to_script(os, nullptr, true)) continue;
            std::string value = os.str();
            // A line holds one value: multi-line text must be braced (continued until the
            // braces balance) or is quoted here; edge blanks would be trimmed on loading, and a
            // carriage return at a line's end taken for a CR-LF line end.
            const bool braced = !value.empty() && value.front() == '{' && value.back() == '}' &&
                                braceDepth(value) == 0;
            if ((value.find('\n') != std::string::npos && !braced) ||
                value.find('\r') != std::string::npos || (!value.empty() && value != trim(value)))
                value = PX::Image::quoteScriptText(knob->toScriptText());
            out << "    " << knob->name() << (value.empty() ? "" : " " + value) << '\n';
        }
        for (const Graph::KeptLine& line : kept)
            if (line.missingKnob) out << line.text << '\n';
        out << "end\n";
    }

    bool first = true;
    for (const auto& node : graph.nodes())
        for (int n = 0; n < node->graphInputCount(); ++n)
            if (Node* from = node->input(n)) {
                out << (first ? "\n" : "") << "connect " << from->name() << ' ' << node->name()
                    << ' ' << n << '\n';
                first = false;
            }
    return out.str();
}

void ScriptFile::save(const Graph& graph, const std::string& path) {
    try {
        writeFileAtomically(path, text(graph));
    } catch (const std::runtime_error& e) {
        throw ScriptError(std::string("cannot save the script: ") + e.what());
    }
}

}  // namespace Vireo
