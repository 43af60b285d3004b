// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "px/image/Box.h"

namespace PX {
namespace Image {

/// An image format: a full width and height, the box of valid pixels inside it (usually the
/// whole image), a pixel aspect ratio (pixel width / pixel height) and an optional name.
class Format {
public:
    Format() = default;
    Format(int width, int height, double pixelAspect = 1.0, std::string name = {})
        : m_box(0, 0, width, height),
          m_width(width),
          m_height(height),
          m_pixelAspect(pixelAspect),
          m_name(std::move(name)) {}

    int width() const { return m_width; }
    int height() const { return m_height; }
    double pixel_aspect() const { return m_pixelAspect; }
    const std::string& name() const { return m_name; }
    const Box& box() const { return m_box; }
    void setBox(const Box& box) { m_box = box; }
    /// The empty format: 0 x 0, aspect 1, no name.
    bool isEmpty() const { return m_width <= 0 || m_height <= 0; }

    bool operator==(const Format& o) const {
        return m_box == o.m_box && m_width == o.m_width && m_height == o.m_height &&
               m_pixelAspect == o.m_pixelAspect && m_name == o.m_name;
    }
    bool operator!=(const Format& o) const { return !(*this == o); }

    /// A copy of the host's list of known formats. It starts with the standard ones, among
    /// them "2K_LatLong" (2048 x 1024, aspect 1.0); add() appends or returns an equal one,
    /// whose reference stays valid for the life of the process.
    static std::vector<Format> formats();
    static const Format& add(const Format& format);
    /// Null when no known format has this name.
    static const Format* find(const std::string& name);

private:
    Box m_box;
    int m_width = 0;
    int m_height = 0;
    double m_pixelAspect = 1.0;
    std::string m_name;
};

/// What a format knob stores: the format renders use, and the full-size format it is a proxy
/// of (equal to it when the host is not in proxy mode).
struct FormatPair {
    Format format;
    Format fullSizeFormat;
    bool operator==(const FormatPair& o) const {
        return format == o.format && fullSizeFormat == o.fullSizeFormat;
    }
};

}  // namespace Image
}  // namespace PX
