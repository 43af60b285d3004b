// SPDX-License-Identifier: Apache-2.0
// A node of the plug-in fed by a source node of the tests, with the project's views set for as
// long as it lives, and the host's steps before a render.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "plugin/DizuvaRuviPlugin.h"
#include "px/image/Node.h"

namespace NodeTests {

template <class Source>
struct NodeFixture {
    /// `prepare` sets the source up before the node is connected to it.
    NodeFixture(const std::vector<std::string>& views,
                const char* sourceClass,
                const std::function<void(Source&)>& prepare = {}) {
        PX::Image::Views::setNames(views);
        source = PX::Image::Node::create(sourceClass, "Source1");
        if (prepare) prepare(*sourceOp());
        node = PX::Image::Node::create("V_DizuvaRuvi", "DizuvaRuvi1");
        node->setInput(0, source.get());
    }
    ~NodeFixture() {
        node.reset();
        source.reset();
        PX::Image::Views::setNames({"main"});
    }
    NodeFixture(const NodeFixture&) = delete;
    NodeFixture& operator=(const NodeFixture&) = delete;

    Source* sourceOp() const { return static_cast<Source*>(source->op()); }
    Korvane::Research::DizuvaRuviPlugin* op() const {
        return static_cast<Korvane::Research::DizuvaRuviPlugin*>(node->op());
    }
    /// Validates the node for `view` at frame 1 as the host does before a render.
    Korvane::Research::DizuvaRuviPlugin* validate(const std::string& view) const {
        const PX::Image::OutputContext c(1, PX::Image::Views::find(view));
        op()->setOutputContext(c);
        node->storeKnobs(c);
        op()->validate();
        return op();
    }
    /// The plane of `channels` of `view`: the stitch map by stripes, the rest as a whole.
    PX::Image::ImagePlane render(const std::string& view,
                                 const PX::Image::ChannelSet& channels) const {
        validate(view);
        return channels == PX::Image::Mask_StitchMap
                   ? op()->renderStripe(0, channels)
                   : op()->fetchPlane(op()->info().box(), channels);
    }

    std::unique_ptr<PX::Image::Node> source;
    std::unique_ptr<PX::Image::Node> node;
};

}  // namespace NodeTests
