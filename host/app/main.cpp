// SPDX-License-Identifier: Apache-2.0
// vireo: the command-line host. It loads plug-ins from the plug-in path and drives nodes.

#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "px/image/Format.h"
#include "px/image/KnobCallback.h"
#include "px/image/Node.h"
#include "px/image/Op.h"
#include "px/image/OutputContext.h"
#include "px/image/Plugin.h"

namespace fs = std::filesystem;
using namespace PX::Image;

namespace {

const char* kUsage =
    "usage: vireo --info              show the host, its plug-in path and the loaded plug-ins\n"
    "       vireo --describe CLASS    make a node of CLASS and print its knobs as saved\n"
    "       vireo --help\n";

// Plug-ins are looked for in VIREO_PLUGIN_PATH, then in "plugins" next to the binary's folder.
void setPluginFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) Plugins::setDefaultFolder((exe.parent_path().parent_path() / "plugins").string());
}

int info() {
    std::cout << "vireo command-line host\n";
    std::cout << "plug-in path:";
    for (const std::string& folder : Plugins::searchPath()) std::cout << ' ' << folder;
    std::cout << '\n';
    const std::vector<std::string> errors = Plugins::loadAll();
    for (const std::string& e : errors) std::cerr << "vireo: " << e << '\n';
    const auto descriptions = Op::Description::all();
    std::cout << "operators: " << descriptions.size() << '\n';
    for (const Op::Description* d : descriptions)
        std::cout << "  " << d->name << "  (" << d->pluginFile << ", built " << d->build << ")\n";
    std::cout << "views:";
    for (const std::string& v : Views::names()) std::cout << ' ' << v;
    std::cout << "\nformats:";
    for (const Format& f : Format::formats())
        std::cout << ' ' << f.name() << ' ' << f.width() << 'x' << f.height();
    std::cout << '\n';
    return errors.empty() ? 0 : 1;
}

int describe(const std::string& className) {
    std::unique_ptr<Node> node = Node::create(className, className + "1");
    std::cout << className << " {\n";
    for (const auto& k : node->knobs()) {
        if (k->name().empty() || !k->isValueKnob()) continue;
        std::cout << "  " << k->name() << ' ';
        k->to_script(std::cout, nullptr, true);
        std::cout << "    # " << k->Class() << ", \"" << k->label() << "\"\n";
    }
    std::cout << "}\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    setPluginFolder();
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 1 && args[0] == "--info") return info();
        if (args.size() == 2 && args[0] == "--describe") return describe(args[1]);
        if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
            std::cout << kUsage;
            return 0;
        }
        std::cerr << kUsage;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "vireo: " << e.what() << '\n';
        return 1;
    }
}
