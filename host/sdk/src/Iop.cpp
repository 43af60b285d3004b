// SPDX-License-Identifier: Apache-2.0
#include "px/image/Iop.h"

#include <mutex>
#include <new>

#include "base/Exception.h"
#include "px/image/Node.h"

namespace PX {
namespace Image {

namespace {

// Sets `in` to `context` for the life of the guard, holding its node, and restores it after.
class EvaluationGuard {
public:
    EvaluationGuard(Iop* in, const OutputContext& context)
        : m_in(in), m_lock(in->node()->evaluationMutex()), m_saved(in->outputContext()) {
        m_in->setOutputContext(context);
        m_in->node()->storeKnobs(context);
    }
    ~EvaluationGuard() {
        m_in->setOutputContext(m_saved);
        m_in->node()->storeKnobs(m_saved);
    }

private:
    Iop* m_in;
    std::lock_guard<std::recursive_mutex> m_lock;
    OutputContext m_saved;
};

}  // namespace

void Iop::validate(bool for_real) {
    // Valid for one set of knob values and inputs in one context (frame, view, proxy).
    Hash h = hash();
    h.append(outputContext().frame());
    h.append(outputContext().view());
    outputContext().appendProxy(h);
    if (m_valid && h == m_validHash) return;
    node()->clearError();
    m_info = Info();
    _validate(for_real);
    m_valid = !hasError();
    m_validHash = h;
}

Iop* Iop::input(int k) const { return dynamic_cast<Iop*>(Op::input(k)); }

Iop* Iop::node_input(int n) const { return dynamic_cast<Iop*>(Op::node_input(n)); }

Iop* Iop::validateInput(int k, bool for_real) {
    Iop* in = input(k);
    if (!in) return nullptr;
    EvaluationGuard guard(in, inputContext(k));
    in->validate(for_real);
    return in;
}

void Iop::_validate(bool for_real) { copy_info(0); }

void Iop::copy_info(int k) {
    Iop* in = input(k);
    if (!in) return;
    EvaluationGuard guard(in, inputContext(k));
    in->validate(true);
    m_info = in->info();
}

void Iop::merge_info(int k) {
    Iop* in = input(k);
    if (!in) return;
    EvaluationGuard guard(in, inputContext(k));
    in->validate(true);
    m_info.merge(in->info());
}

void Iop::getRequests(const Box& box,
                      const ChannelSet& channels,
                      int count,
                      RequestOutput& requests) const {
    if (Iop* in = input(0)) requests.request(in, box, channels, count);
}

ImagePlane Iop::fetchInput(int k, const Box& box, const ChannelSet& channels) {
    Iop* in = input(k);
    if (!in) return ImagePlane(box, true, channels);
    EvaluationGuard guard(in, inputContext(k));
    in->validate(true);
    if (!in->valid() || !in->info().channels().contains(channels))
        return ImagePlane(box, true, channels);
    return in->fetchPlane(box, channels);
}

ImagePlane PlanarIop::renderStripe(int, const ChannelSet& channels) {
    ImagePlane plane(info().box(), true, channels);
    try {
        plane.makeWritable();
        renderPlane(plane);
    } catch (const Korvane::Base::MessageException& e) {
        error("%s", e.userMessage().c_str());
    } catch (const std::bad_alloc&) {
        // An output format too large for the machine: say so with the size, where
        // "std::bad_alloc" alone names nothing.
        error("out of memory for a %d x %d image of %d channels",
              info().box().w(),
              info().box().h(),
              int(channels.size()));
    } catch (const std::exception& e) {
        error("%s", e.what());
    }
    if (hasError() || aborted()) return ImagePlane(info().box(), true, channels);
    return plane;
}

ImagePlane PlanarIop::fetchPlane(const Box&, const ChannelSet& channels) {
    if (!valid()) return ImagePlane(info().box(), true, channels);
    return renderStripe(0, channels);
}

}  // namespace Image
}  // namespace PX
