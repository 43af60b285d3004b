// SPDX-License-Identifier: Apache-2.0
#include "python/PythonCommandLine.h"

#include "python/PythonHost.h"

namespace Vireo {

std::unique_ptr<CommandLineHost> PythonCommandLine::makeHost() {
    return std::make_unique<PythonHost>(m_err);
}

int PythonCommandLine::runPython(CommandLineHost& host,
                                 std::unique_ptr<Graph>& graph,
                                 const std::string& path,
                                 const std::vector<std::string>& args) {
    auto& python = static_cast<PythonHost&>(host);
    python.setGraph(std::move(graph));
    const int status = python.runFile(path, args);
    graph = python.takeGraph();  // the later steps (--knobs, --render, --save) use it
    return status;
}

}  // namespace Vireo
