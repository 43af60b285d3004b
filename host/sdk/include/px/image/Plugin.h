// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace PX {
namespace Image {

/// A plug-in that could not be loaded. what() names the file and says why.
class PluginError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Plug-in libraries: shared objects whose static initialisers register Op::Descriptions.
///
/// The search path is the folders of the environment variable VIREO_PLUGIN_PATH (separated
/// by ':'), then the host's default folder. A class "Foo" is looked for as "Foo.so" in each
/// folder in turn. A library is loaded at most once per process and stays loaded.
namespace Plugins {

std::vector<std::string> searchPath();
/// The folder searched after VIREO_PLUGIN_PATH; the host sets it next to its binary.
void setDefaultFolder(const std::string& folder);

/// Loads `file` and returns the class names it registered. Throws PluginError naming the
/// file when it cannot be opened (with the loader's reason) or registers no operator.
std::vector<std::string> load(const std::string& file);

/// A class name a plug-in file may be looked up by: a letter or '_', then letters, digits
/// and '_' (no path, no dots), at most 200 characters.
bool validClassName(const std::string& name);

/// Makes `className` available: true when already registered or when "<className>.so" in a
/// folder of the search path loaded and registered it; false for a name that is not
/// validClassName (nothing is looked up). A library that fails throws PluginError.
bool loadFor(const std::string& className);

/// Loads every "*.so" on the search path. Returns the errors (one line per failed file);
/// the others stay loaded.
std::vector<std::string> loadAll();

/// Every file loaded so far.
std::vector<std::string> loaded();

}  // namespace Plugins
}  // namespace Image
}  // namespace PX
