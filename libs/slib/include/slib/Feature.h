// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace Korvane {
namespace SLIB {

/// A tracked image feature: a position in pixels of a view's input image, plus two fields the
/// tracker owns. `id` leads and `score` trails; both are zero where a key is made by hand.
struct Feature {
    int id = 0;
    double x = 0.0;
    double y = 0.0;
    double score = 0.0;

    Feature() = default;
    Feature(double px, double py) : x(px), y(py) {}
    virtual ~Feature() = default;
};

}  // namespace SLIB
}  // namespace Korvane
