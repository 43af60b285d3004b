// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <stdexcept>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "px/image/MetaData.h"

namespace Vireo {

/// A rig sidecar file: a JSON object describing the camera rig of a footage set, attached to
/// the image stream of a Read node as metadata. The host reads it generically; which keys
/// mean what is the rig library's business.
///
/// Flattening (JSON -> metadata bundle), for every member of the top-level object:
///   - an object: its members, the names joined with '/' ("rig/convergence");
///   - an array of numbers (or an empty array): std::vector<double>;
///   - any other array: each element under its index ("cameras/0/focal", "names/2");
///   - an integer (a number written without fraction or exponent) that fits an int: int;
///   - any other number: double;
///   - a string: std::string;
///   - a boolean: int 0 or 1;
///   - null: no entry.
class RigSidecar {
public:
    /// Thrown when the file cannot be read or is not a JSON object; what() names the file and,
    /// for bad JSON, the parser's line and column.
    class Error : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    /// Reads and flattens `path`. Throws Error.
    static RigSidecar read(const std::string& path);
    /// Flattens a parsed top-level object (see above).
    static PX::Image::MetaData::Bundle flatten(const nlohmann::json& object);

    const PX::Image::MetaData::Bundle& bundle() const { return m_bundle; }
    /// The number of entries of the "cameras" array; 0 without one.
    int cameraCount() const { return m_cameraCount; }

    /// Adds to the project's views whatever is missing of "main", "cam1" ... "camN" (in that
    /// order, after the views already there), N = cameraCount().
    void addMissingViews() const;

private:
    PX::Image::MetaData::Bundle m_bundle;
    int m_cameraCount = 0;
};

}  // namespace Vireo
