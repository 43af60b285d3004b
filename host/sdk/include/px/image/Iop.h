// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <vector>

#include "px/image/Box.h"
#include "px/image/Channel.h"
#include "px/image/ImagePlane.h"
#include "px/image/Info.h"
#include "px/image/Op.h"

namespace PX {
namespace Image {

class Iop;

/// What an operator asks of its inputs before a render: a box and channels per input.
class RequestOutput {
public:
    struct Request {
        Iop* input;
        Box box;
        ChannelSet channels;
        int count;
    };
    void request(Iop* input, const Box& box, const ChannelSet& channels, int count) {
        m_requests.push_back({input, box, channels, count});
    }
    const std::vector<Request>& requests() const { return m_requests; }

private:
    std::vector<Request> m_requests;
};

/// An image operator. The host validates it for an output context (validate), asks for its
/// input requests (getRequests) and then for pixels (fetchPlane), possibly from several
/// render threads at once.
///
/// Validation sets info(): box, channels, formats, frame range. validate() runs _validate
/// only when the operator is not valid for its current output context and knob values, so
/// validating twice is harmless. A node error raised in _validate leaves the operator
/// invalid: fetchPlane then returns a plane without a buffer.
class Iop : public Op {
public:
    explicit Iop(Node* node) : Op(node) {}

    const Info& info() const { return m_info; }
    /// Runs _validate unless already valid for the current context and hash.
    void validate(bool for_real = true);
    /// Forget the validation: the next validate() runs _validate again.
    void invalidate() { m_validHash.reset(), m_valid = false; }
    bool valid() const { return m_valid; }

    /// Input k as an image operator; null when unconnected, past the end or not an Iop.
    Iop* input(int k) const;
    Iop* node_input(int n) const;
    /// Input k set to inputContext(k), knobs stored and validated; null when unconnected.
    Iop* validateInput(int k, bool for_real = true);

    virtual void getRequests(const Box& box,
                             const ChannelSet& channels,
                             int count,
                             RequestOutput& requests) const;

    /// Renders `box` x `channels` at the output context; the plane has no buffer after an
    /// error or an abort. Call validate() first.
    virtual ImagePlane fetchPlane(const Box& box, const ChannelSet& channels) = 0;
    /// Pixels of input k at inputContext(k): validates the input and fetches, with the input
    /// node held so no other thread changes its context meanwhile. The plane has no buffer
    /// when the input is missing, failed, or lacks channels.
    ImagePlane fetchInput(int k, const Box& box, const ChannelSet& channels);

protected:
    /// The default copies input 0's info (validating it), or leaves an empty info without
    /// an input.
    virtual void _validate(bool for_real);
    Info& info_() { return m_info; }
    void copy_info(int k = 0);
    void merge_info(int k);

private:
    Info m_info;
    bool m_valid = false;
    Hash m_validHash;
};

/// An image operator that renders whole planes: renderStripe is called once per request
/// (useStripes false, renderFullPlanes true) and its default makes a plane over the output
/// box and calls renderPlane.
class PlanarIop : public Iop {
public:
    explicit PlanarIop(Node* node) : Iop(node) {}

    virtual bool useStripes() const { return false; }
    virtual bool renderFullPlanes() const { return true; }
    /// The default makes a packed plane over info().box() with `channels`, allocates it and
    /// calls renderPlane. Returns the plane (without a buffer when renderPlane failed). An
    /// exception becomes the node error: its message, or for std::bad_alloc (while allocating
    /// or rendering) "out of memory for a W x H image of N channels".
    virtual ImagePlane renderStripe(int stripe, const ChannelSet& channels);
    /// Fills `plane` (already allocated).
    virtual void renderPlane(ImagePlane& plane) = 0;

    ImagePlane fetchPlane(const Box& box, const ChannelSet& channels) override;
};

}  // namespace Image
}  // namespace PX
