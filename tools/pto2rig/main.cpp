// SPDX-License-Identifier: Apache-2.0
// pto2rig: a panorama project (.pto) into the rig sidecar file (JSON).
//
//   pto2rig PROJECT.pto RIG.json [--convergence METRES]
//
// One camera per image line, named cam1, cam2, ... in order; prints which file and which
// part of it each camera reads, and every value of the project the rig cannot hold.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "vellacam/PtoFile.h"
#include "vellacam/RigError.h"
#include "vellacam/RigFile.h"

using namespace Korvane::Research;

namespace {

int usage() {
    std::cerr << "usage: pto2rig PROJECT.pto RIG.json [--convergence METRES]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 5) return usage();
    double convergence = 10.0;
    if (argc == 5) {
        if (std::string(argv[3]) != "--convergence") return usage();
        char* end = nullptr;
        convergence = std::strtod(argv[4], &end);
        if (*end != '\0' || !(convergence > 0.0) || convergence > 1e9) {
            std::cerr << "pto2rig: --convergence must be a positive number of metres, not '"
                      << argv[4] << "'\n";
            return 2;
        }
    }
    const std::string out = argv[2];
    try {
        const PtoProject project = ReadPtoFile(argv[1]);
        for (const std::string& note : project.notes) std::cout << "note: " << note << "\n";
        for (int c = 0; c < project.rig.getNumberCameras(); ++c) {
            const CameraDefinition& camera = project.rig.getCamera(c);
            const PtoSource& source = project.sources[size_t(c)];
            std::cout << camera.getOutputView() << ": line " << source.line << ", '" << source.file
                      << "'";
            if (camera.hasCropWindow())
                std::cout << ", " << camera.getFormatWidth() << " x " << camera.getFormatHeight()
                          << " from (" << camera.getCropWindowOffset().x() << ", "
                          << camera.getCropWindowOffset().y() << ") of its " << source.fileWidth
                          << " x " << source.fileHeight << " (x right, y up from the bottom-left)";
            std::cout << "\n";
        }
        std::ofstream file(out, std::ios::binary);
        file << RigFileText(project.rig, convergence);
        file.close();
        if (!file) {
            std::cerr << "pto2rig: cannot write " << out << "\n";
            return 1;
        }
        // What was written must read back: the reader is the judge of the format.
        PX::Image::MetaData::Bundle bundle;
        ReadRigFile(out, &bundle);
        std::cout << "wrote " << out << "\n";
    } catch (const RigError& e) {
        std::cerr << "pto2rig: " << e.userMessage() << "\n";
        return 1;
    }
    return 0;
}
