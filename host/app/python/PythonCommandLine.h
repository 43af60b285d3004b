// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "CommandLine.h"

namespace Vireo {

/// The command line of the vireo binary: CommandLine with the Python host installed, so that
/// button scripts run and -t runs a Python script.
class PythonCommandLine : public CommandLine {
public:
    using CommandLine::CommandLine;

protected:
    std::unique_ptr<CommandLineHost> makeHost() override;
    int runPython(CommandLineHost& host,
                  std::unique_ptr<Graph>& graph,
                  const std::string& path,
                  const std::vector<std::string>& args) override;
};

}  // namespace Vireo
