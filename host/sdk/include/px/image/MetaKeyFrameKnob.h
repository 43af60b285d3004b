// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <vector>

#include "px/image/Knob.h"

namespace PX {
namespace Image {

/// What a key-list knob asks of its owner: the keys to show and the edits to apply.
class MetaKeyFrameDelegate {
public:
    virtual ~MetaKeyFrameDelegate() = default;
    /// The keys, ascending, without duplicates.
    virtual std::vector<float> getKeys() const = 0;
    /// Adds a key at `frame` (the user's current frame).
    virtual void addKey(float frame) = 0;
    /// Deletes the keys at `frames`.
    virtual void deleteKeys(const std::vector<float>& frames) = 0;
};

/// A panel row that lists keys kept elsewhere and edits them through its delegate: "add a
/// key here" and "delete keys". Stores and saves nothing itself; the timeline shows the
/// delegate's keys.
class MetaKeyFrameKnob : public Knob {
public:
    MetaKeyFrameKnob(Node* node,
                     std::string name,
                     std::string label,
                     MetaKeyFrameDelegate* delegate = nullptr)
        : Knob(node, std::move(name), std::move(label)), m_delegate(delegate) {}
    const char* Class() const override { return "MetaKeyFrame_Knob"; }

    MetaKeyFrameDelegate* delegate() const { return m_delegate; }
    void setDelegate(MetaKeyFrameDelegate* d) { m_delegate = d; }

    std::vector<float> keys() const;
    /// A user's "add key" at the UI frame: one undo step, then changed().
    void addKeyAtCurrentFrame();
    /// A user's "delete keys": one undo step, then changed().
    void deleteKeys(const std::vector<float>& frames);

    int get_key_list(std::set<int>& keys) const override;
    bool keyframesDisplayed() const override { return m_delegate != nullptr; }

private:
    MetaKeyFrameDelegate* m_delegate;
};

}  // namespace Image
}  // namespace PX
