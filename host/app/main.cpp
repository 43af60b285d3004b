// SPDX-License-Identifier: Apache-2.0
// vireo: the command-line host (see CommandLine.h), with the Python module vireo.

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "px/image/Plugin.h"
#include "px/image/ProcessMemory.h"
#include "python/PythonCommandLine.h"

int main(int argc, char** argv) {
    PX::Image::keepFreedMemory();
    // Plug-ins are looked for in VIREO_PLUGIN_PATH, then in "plugins" next to the binary's
    // folder (build/bin/vireo finds build/plugins).
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        PX::Image::Plugins::setDefaultFolder(
            (exe.parent_path().parent_path() / "plugins").string());
    Vireo::PythonCommandLine commandLine(std::cout, std::cerr);
    return commandLine.run(std::vector<std::string>(argv + 1, argv + argc));
}
