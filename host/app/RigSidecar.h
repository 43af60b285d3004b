// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <stdexcept>
#include <string>

#include "px/image/MetaData.h"

namespace Vireo {

/// A rig sidecar file: the JSON description of the camera rig of a footage set, attached to
/// the image stream of a Read node as metadata. In a full pipeline an upstream rig solver
/// attaches this metadata; the command-line host stands in for it by reading the rig file
/// with the rig library's own reader, so the bundle carries exactly the rig library's keys
/// (libs/vellacam/README.md lists the file format and the keys).
class RigSidecar {
public:
    /// Thrown when the file cannot be read or describes no valid rig; what() names the file
    /// and the field (or, for bad JSON, the line).
    class Error : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    /// Reads `path`, or gives the rig read before while the file's modification time and size
    /// are unchanged. Throws Error (failures are not kept: the next call reads again).
    static RigSidecar read(const std::string& path);

    const PX::Image::MetaData::Bundle& bundle() const { return m_bundle; }
    int cameraCount() const { return m_cameraCount; }
    /// The cameras whose image is their whole footage file (no crop window): each needs a
    /// file of its own.
    int wholeFileCameraCount() const { return m_wholeFileCameraCount; }

    /// Adds to the project's views whatever is missing of "main", "cam1" ... "camN" (in that
    /// order, after the views already there), N = cameraCount().
    void addMissingViews() const;

private:
    static RigSidecar parse(const std::string& path);

    PX::Image::MetaData::Bundle m_bundle;
    int m_cameraCount = 0;
    int m_wholeFileCameraCount = 0;
};

}  // namespace Vireo
