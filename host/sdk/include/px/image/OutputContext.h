// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "px/image/Hash.h"

namespace PX {
namespace Image {

/// Where and when an operator renders: a frame (fractional frames are allowed; whoever needs
/// a whole frame rounds it), a view number into the project's view list, and the proxy
/// transform from full-size pixels to the pixels rendered: proxy = full * scale + offset.
class OutputContext {
public:
    OutputContext() = default;
    OutputContext(double frame, int view) : m_frame(frame), m_view(view) {}

    double frame() const { return m_frame; }
    void setFrame(double frame) { m_frame = frame; }
    int view() const { return m_view; }
    void setView(int view) { m_view = view; }

    double scale_x() const { return m_scaleX; }
    double scale_y() const { return m_scaleY; }
    double offset_x() const { return m_offsetX; }
    double offset_y() const { return m_offsetY; }
    void setProxyScale(double sx, double sy) { m_scaleX = sx, m_scaleY = sy; }
    void setProxyOffset(double ox, double oy) { m_offsetX = ox, m_offsetY = oy; }
    bool isProxy() const {
        return m_scaleX != 1.0 || m_scaleY != 1.0 || m_offsetX != 0.0 || m_offsetY != 0.0;
    }
    /// The proxy transform only (scale and offset), for caches that depend on it.
    void appendProxy(Hash& hash) const;

    bool operator==(const OutputContext& o) const;
    bool operator!=(const OutputContext& o) const { return !(*this == o); }

private:
    double m_frame = 1.0;
    int m_view = 0;
    double m_scaleX = 1.0, m_scaleY = 1.0;
    double m_offsetX = 0.0, m_offsetY = 0.0;
};

/// The project's ordered list of view names, numbered from 0. One list per process, set by
/// the host when it loads a script; it starts as {"main"}. Thread-safe.
namespace Views {
std::vector<std::string> names();
void setNames(const std::vector<std::string>& names);
int count();
/// "" for a number outside the list.
std::string name(int view);
/// -1 when no view has this name.
int find(const std::string& name);
}  // namespace Views

}  // namespace Image
}  // namespace PX
