// The canonicalisation steps of a signature job and the method table they
// look URIs up in.
#include "xmlsig/canonicalisation.h"

#include <libxml/c14n.h>

#include <algorithm>
#include <climits>
#include <array>
#include <utility>

#include "diagnostics/error_record.h"
#include "xmlsig/signature_job.h"

namespace tessal::xml {

namespace {

struct MethodEntry {
    std::string_view uri;
    CanonicalMethod method;
};

constexpr std::array<MethodEntry, 4> kMethods = {{
    {kC14nInclusive, {false, false}},
    {kC14nInclusiveWithComments, {false, true}},
    {kC14nExclusive, {true, false}},
    {kC14nExclusiveWithComments, {true, true}},
}};

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

int modeOf(CanonicalMethod method) { return method.exclusive ? XML_C14N_EXCLUSIVE_1_0 : XML_C14N_1_0; }

// A node is visible unless it, or the element it belongs to, lies under a
// hidden node. Namespace nodes are not xmlNode and have no parent link of
// their own: their element comes as `parent`.
int isOutsideHidden(void* data, xmlNodePtr node, xmlNodePtr parent) {
    const auto& hidden = *static_cast<const std::span<const xmlNodePtr>*>(data);
    if (node == nullptr) return 1;
    const xmlNode* walk = node->type == XML_NAMESPACE_DECL ? parent : node;
    for (; walk != nullptr; walk = walk->parent) {
        if (std::find(hidden.begin(), hidden.end(), walk) != hidden.end()) return 0;
    }
    return 1;
}

// Runs the canonicalisation into `buffer`; without hidden nodes libxml2
// walks the whole document without asking about each node.
bool canonicaliseInto(xmlDocPtr doc, CanonicalMethod method, std::span<const xmlNodePtr> hidden,
                      xmlOutputBufferPtr buffer) {
    const xmlC14NIsVisibleCallback visible = hidden.empty() ? nullptr : isOutsideHidden;
    return xmlC14NExecute(doc, visible, hidden.empty() ? nullptr : &hidden, modeOf(method), nullptr,
                          method.withComments ? 1 : 0, buffer) >= 0;
}

// The output buffer's write callback: every block goes to the sink at once.
struct StreamTarget {
    const OctetSink* sink;
    long written = 0;
    bool stopped = false;
};

int writeToSink(void* context, const char* data, int length) {
    auto& target = *static_cast<StreamTarget*>(context);
    if (length <= 0) return 0;
    if (!(*target.sink)(reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(length))) {
        target.stopped = true;
        return -1;
    }
    target.written += length;
    return length;
}

}  // namespace

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

std::optional<CanonicalMethod> canonicalMethodOf(std::string_view uri) {
    for (const MethodEntry& entry : kMethods) {
        if (equalIgnoringCase(uri, entry.uri)) return entry.method;
    }
    return std::nullopt;
}

CanonicalOctets octetsOfBuffer(xmlOutputBufferPtr buffer) {
    const std::size_t size = xmlOutputBufferGetSize(buffer);
    if (size == 0 || size > static_cast<std::size_t>(INT_MAX)) return {};
    const int length = static_cast<int>(size);
    OwnedBlock block(xmlStrndup(xmlOutputBufferGetContent(buffer), length));
    if (!block) return {};
    return {std::move(block), length};
}

CanonicalOctets canonicalOctets(xmlDocPtr doc, CanonicalMethod method, std::span<const xmlNodePtr> hidden) {
    if (doc == nullptr) return {};
    const OwnedOutputBuffer buffer(xmlAllocOutputBuffer(nullptr));
    if (!buffer || !canonicaliseInto(doc, method, hidden, buffer.get())) return {};
    return octetsOfBuffer(buffer.get());
}

long canonicalStream(xmlDocPtr doc, CanonicalMethod method, const OctetSink& sink, std::span<const xmlNodePtr> hidden) {
    if (doc == nullptr) return -1;
    StreamTarget target{&sink};
    OwnedOutputBuffer buffer(xmlOutputBufferCreateIO(writeToSink, nullptr, &target, nullptr));
    if (!buffer) return -1;
    const bool ran = canonicaliseInto(doc, method, hidden, buffer.get());
    // Closing flushes what the buffer still holds into the sink.
    const int closed = xmlOutputBufferClose(buffer.release());
    if (!ran || closed < 0 || target.stopped) return -1;
    return target.written;
}

void SignatureJob::takeOctets(CanonicalOctets&& octets) {
    releaseText();
    setText(octets.block.release(), octets.length);
}

bool SignatureJob::canonicalise(std::string_view method) {
    const std::optional<CanonicalMethod> found = canonicalMethodOf(method);
    if (!found) {
        diag::recordErrorCode(error_, 0, 416, 96, {method});
        return false;
    }
    CanonicalOctets octets = canonicalOctets(currentTree(), *found, hiddenNodes());
    if (!octets.block) {
        diag::recordErrorCode(error_, 0, 416, 83);
        return false;
    }
    releaseCurrentData();
    takeOctets(std::move(octets));
    return true;
}

bool SignatureJob::canonicaliseInto(std::string_view method, const OctetSink& sink) {
    const std::optional<CanonicalMethod> found = canonicalMethodOf(method);
    if (!found) {
        diag::recordErrorCode(error_, 0, 416, 96, {method});
        return false;
    }
    const long written = canonicalStream(currentTree(), *found, sink, hiddenNodes());
    if (written <= 0) {
        diag::recordErrorCode(error_, 0, 416, 83);
        return false;
    }
    releaseCurrentData();
    return true;
}

bool SignatureJob::canonicaliseCurrentData(std::string_view method) {
    if (!ensureTreeOrView()) {
        diag::recordErrorCode(error_, 0, 416, 83);
        return false;
    }
    return canonicalise(method);
}

bool SignatureJob::canonicaliseFragment(std::string_view text) {
    releaseCurrentData();
    OwnedDoc fragment(parseBytes(text.data(), text.size()));
    if (!fragment || xmlDocGetRootElement(fragment.get()) == nullptr) {
        diag::recordErrorCode(error_, 0, 415, 83);
        return false;
    }
    workingTree_ = std::move(fragment);
    return canonicaliseCurrentData(kC14nInclusive);
}

}  // namespace tessal::xml
