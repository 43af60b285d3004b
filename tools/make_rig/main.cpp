// SPDX-License-Identifier: Apache-2.0
// make_rig: synthetic multi-camera rig footage with ground truth.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "RigGenerator.h"
#include "RigOptions.h"

int main(int argc, char** argv) {
    using Korvane::MakeRig::OptionError;
    using Korvane::MakeRig::RigOptions;
    try {
        const RigOptions options =
            RigOptions::parse(std::vector<std::string>(argv + 1, argv + argc));
        if (options.help) {
            std::cout << RigOptions::usage();
            return 0;
        }
        Korvane::MakeRig::RigGenerator(options).run(&std::cout);
        return 0;
    } catch (const OptionError& e) {
        std::cerr << "make_rig: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "make_rig: " << e.what() << "\n";
        return 1;
    }
}
