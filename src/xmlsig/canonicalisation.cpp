// The canonicalisation steps of a signature job and the method table they
// look URIs up in.
#include "xmlsig/canonicalisation.h"

#include <libxml/c14n.h>

#include <algorithm>
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

CanonicalOctets canonicalOctets(xmlDocPtr doc, xmlNodeSetPtr nodes, CanonicalMethod method) {
    if (doc == nullptr) return {};
    xmlChar* out = nullptr;
    // No prefix list: an InclusiveNamespaces child of a transform is not read.
    const int length = xmlC14NDocDumpMemory(doc, nodes, method.exclusive ? XML_C14N_EXCLUSIVE_1_0 : XML_C14N_1_0,
                                            nullptr, method.withComments ? 1 : 0, &out);
    OwnedBlock block(out);
    if (length <= 0 || !block) return {};
    return {std::move(block), length};
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
    CanonicalOctets octets = canonicalOctets(workingTree_.get(), nullptr, *found);
    if (!octets.block) {
        diag::recordErrorCode(error_, 0, 416, 83);
        return false;
    }
    takeOctets(std::move(octets));
    workingTree_.reset();
    return true;
}

bool SignatureJob::canonicaliseCurrentData(std::string_view method) {
    if (!ensureTree()) {
        diag::recordErrorCode(error_, 0, 416, 83);
        return false;
    }
    return canonicalise(method);
}

bool SignatureJob::canonicaliseFragment(std::string_view text) {
    releaseText();
    workingTree_.reset();
    OwnedDoc fragment(parseBytes(text.data(), text.size()));
    if (!fragment || xmlDocGetRootElement(fragment.get()) == nullptr) {
        diag::recordErrorCode(error_, 0, 415, 83);
        return false;
    }
    workingTree_ = std::move(fragment);
    return canonicaliseCurrentData(kC14nInclusive);
}

}  // namespace tessal::xml
