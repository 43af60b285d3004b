// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "Graph.h"

namespace Vireo {

/// The script file of a node graph: text, one statement per line (the README's "Scripts"
/// section has the full description and an example).
///
///   vireo 1                      first statement: format version
///   views main cam1 cam2         project settings, before the first node
///   frames 1 10
///   format 2K_LatLong
///   node Read Read1              node CLASS NAME, then one knob per line, then "end"
///       file footage/%V.####.exr KNOB TEXT: the knob's to_script text
///   end
///   connect Read1 Write1 0       connect FROM TO INPUT: input INPUT of TO is FROM
///
/// Blank lines and lines starting with '#' are skipped. A knob text starting with '"' is
/// unquoted (unquoteScriptText) before from_script; one starting with '{' continues over
/// the following lines until its braces balance.
///
/// Saving writes the settings, then every node with each knob whose not_default() is true
/// and that lacks Knob::DO_NOT_WRITE, as to_script(os, nullptr, true) writes it, then the
/// connections. What a load of that text saves again is the same text, byte for byte. A knob
/// line the load could not take (a knob the node lacks, a value the knob refused) is kept by
/// the graph and written back as it was read (the missing knobs' lines after the node's
/// others), until the knob is set: a script from a newer version or edited by hand loses
/// nothing by being opened and saved here.
///
/// A script holds at most Limits::kMaxScriptBytes, a line at most kMaxScriptLineBytes; the
/// reader stops at the limit. Quoted input in messages is cut (quoteForMessage).
///
/// Loading parses into a new Graph; the caller's graph is untouched until it takes the result.
/// Knob values are read with undo recording suspended. Nothing a script says is fatal for
/// a single knob: an unknown knob is a warning and a value the knob refuses is an error
/// (the knob's own message), both naming the file, the line and the node, and the rest loads.
/// Everything else that is wrong (an unknown statement or node class, a repeated node name,
/// a bad connection) throws ScriptError naming file and line and quoting the line; the
/// project's views are then restored to what they were.
class ScriptFile {
public:
    /// `name` is what messages call the file (its path).
    explicit ScriptFile(std::string name) : m_name(std::move(name)) {}

    /// Reads the file called name(). Throws ScriptError.
    std::unique_ptr<Graph> load();
    /// Reads script text from `in`. Throws ScriptError.
    std::unique_ptr<Graph> read(std::istream& in);

    /// Non-fatal findings of the last load: unknown knobs.
    const std::vector<std::string>& warnings() const { return m_warnings; }
    /// Knob values refused in the last load.
    const std::vector<std::string>& errors() const { return m_errors; }
    const std::string& name() const { return m_name; }

    /// The script text of `graph`.
    static std::string text(const Graph& graph);
    /// Writes text(graph) to `path` atomically (writeFileAtomically): a failed or interrupted
    /// save leaves the file as it was. Throws ScriptError naming the file and the system's
    /// reason.
    static void save(const Graph& graph, const std::string& path);

private:
    /// The lines of `in`, without line ends. Throws ScriptError past Limits::kMaxScriptBytes
    /// or a line past Limits::kMaxScriptLineBytes.
    std::vector<std::string> readLines(std::istream& in) const;

    std::string m_name;
    std::vector<std::string> m_warnings;
    std::vector<std::string> m_errors;
};

}  // namespace Vireo
