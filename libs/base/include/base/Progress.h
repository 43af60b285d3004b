// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace Korvane {
namespace Base {

/// A chain of progress reporters. Each maps a fraction it receives into its own sub-range of
/// its parent: with offset o and scale s, fraction f becomes f * s + o. A child covering
/// [a, b] of its parent has o = a and s = b - a, so a child at 1.0 leaves the parent at b.
/// The root (no parent) receives the fully mapped fraction in reportProgress; subclasses at
/// the root override it to show the value. Messages pass to the root unchanged.
/// Not thread-safe: one chain belongs to one piece of work on one thread.
class Progress {
public:
    explicit Progress(Progress* parent = nullptr) : m_parent(parent) {}
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    virtual ~Progress() = default;

    /// Maps `fraction` by this reporter's range and passes it up. Override at the root.
    virtual void reportProgress(float fraction);
    /// Passes `message` up to the root. Override at the root.
    virtual void reportMessage(const std::string& message);

    /// This reporter covers [begin, end] of its parent's range.
    void setRange(float begin, float end);
    /// f * scale + offset.
    float map(float fraction) const { return fraction * m_scale + m_offset; }

    Progress* parent() const { return m_parent; }
    void setParent(Progress* parent) { m_parent = parent; }
    float offset() const { return m_offset; }
    float scale() const { return m_scale; }

private:
    Progress* m_parent;
    float m_offset = 0.0f;
    float m_scale = 1.0f;
};

}  // namespace Base
}  // namespace Korvane
