// SPDX-License-Identifier: Apache-2.0
#include "px/image/Op.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "OpRegistry.h"
#include "px/image/Host.h"
#include "px/image/Knob.h"
#include "px/image/Node.h"

namespace PX {
namespace Image {

Op::Description::Description(const char* n, Constructor c, const char* b)
    : name(n), constructor(c), build(b ? b : "") {
    detail::OpRegistry::instance().add(this);
}

Op::Description::~Description() { detail::OpRegistry::instance().remove(this); }

const Op::Description* Op::Description::find(const std::string& name) {
    return detail::OpRegistry::instance().find(name);
}

std::vector<const Op::Description*> Op::Description::all() {
    return detail::OpRegistry::instance().all();
}

Op::Op(Node* node) : m_node(node) {}

Op::~Op() = default;

Hash Op::hash() const {
    Hash h;
    h.append(Class());
    for (const auto& k : m_node->knobs())
        if (!k->flag(Knob::NO_RERENDER)) k->append(h, &m_outputContext);
    for (int k = 0; k < inputs(); ++k) {
        Op* in = input(k);
        if (!in) {
            h.append(false);
            continue;
        }
        std::lock_guard<std::recursive_mutex> lock(in->node()->evaluationMutex());
        const OutputContext saved = in->outputContext();
        in->setOutputContext(inputContext(k));
        h.append(in->hash());
        in->setOutputContext(saved);
    }
    const_cast<Op*>(this)->append(h);
    return h;
}

Knob* Op::knob(const std::string& name) const { return m_node->knob(name); }

int Op::inputs() const {
    int n = 0;
    for (int g = 0; g < m_node->graphInputCount(); ++g) n += split_input(g);
    return n;
}

int Op::graphInputOf(int k) const {
    if (k < 0) return -1;
    for (int g = 0; g < m_node->graphInputCount(); ++g) {
        const int n = split_input(g);
        if (k < n) return g;
        k -= n;
    }
    return -1;
}

Op* Op::input(int k) const {
    const int g = graphInputOf(k);
    return g < 0 ? nullptr : node_input(g);
}

Op* Op::node_input(int n) const {
    Node* in = m_node->input(n);
    return in ? in->op() : nullptr;
}

OutputContext Op::uiContext() const { return m_node->uiContext(); }

namespace {

std::string formatted(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::vector<char> buffer(size_t(n > 0 ? n : 0) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    return buffer.data();
}

}  // namespace

void Op::error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    m_node->setError(formatted(format, args));
    va_end(args);
}

void Op::warning(const char* format, ...) {
    va_list args;
    va_start(args, format);
    m_node->warn(formatted(format, args));
    va_end(args);
}

bool Op::hasError() const { return m_node->hasError(); }

std::string Op::errorMessage() const { return m_node->errorMessage(); }

bool Op::aborted() const { return m_node->aborted(); }

bool Op::cancelled() const { return Host::current().cancelled(m_node); }

void Op::progressFraction(double fraction) {
    Host::current().progress(m_node, m_node->progressOfWhole(float(fraction)));
}

void Op::progressMessage(const std::string& message) {
    Host::current().progressMessage(m_node, message);
}

void Op::progressDismiss() { Host::current().progressDismiss(m_node); }

void Op::asapUpdate() {
    Host::current().requestUpdate(m_node);
    Host::current().redraw();
}

MetaData::Bundle Op::_fetchMetaData(const std::string& key) {
    Op* in = node_input(0);
    if (!in) return {};
    std::lock_guard<std::recursive_mutex> lock(in->node()->evaluationMutex());
    const OutputContext saved = in->outputContext();
    in->setOutputContext(inputContext(0));
    MetaData::Bundle bundle = in->fetchMetaData(key);
    in->setOutputContext(saved);
    return bundle;
}

}  // namespace Image
}  // namespace PX
