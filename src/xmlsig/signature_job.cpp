// Construction of a signature job and the steps that move its current data
// between the two representations: working tree and canonical octets.
#include "xmlsig/signature_job.h"

#include <algorithm>
#include <string>

#include "diagnostics/error_record.h"

namespace tessal::xml {

namespace {
// How much of unparsable octets goes into the report.
constexpr int kReportedOctets = 2000;
}  // namespace

SignatureJob::SignatureJob(const void* input, std::size_t size, crypto::SignerContext* signer, SignatureInfo* info)
    : XmlDocument(input, size), info_(info), signer_(signer) {}

SignatureJob::~SignatureJob() {
    // The working tree goes first; the XmlDocument part releases text and tree.
    workingTree_.reset();
}

bool SignatureJob::ensureTree() {
    const bool haveTree = workingTree_ != nullptr;
    if (haveTree == hasOctets()) {
        diag::recordErrorCode(error_, 0, 470, 80);
        return false;
    }
    if (haveTree) return true;
    const char* octets = reinterpret_cast<const char*>(text_);
    OwnedDoc parsed(parseBytes(octets, static_cast<std::size_t>(textLength_)));
    if (!parsed || xmlDocGetRootElement(parsed.get()) == nullptr) {
        std::string report = "\r\n";
        report.append(octets, static_cast<std::size_t>(std::min(textLength_, kReportedOctets)));
        diag::recordErrorCode(error_, 0, 470, 49, {report});
        return false;
    }
    releaseText();
    workingTree_ = std::move(parsed);
    return true;
}

bool SignatureJob::loadElement(xmlNodePtr node) {
    xmlNodePtr element = node ? firstElementFrom(node) : nullptr;
    if (element == nullptr) {
        diag::recordErrorCode(error_, 0, 471, 80);
        return false;
    }
    if (!workElementCopy(element)) {
        diag::recordErrorCode(error_, 0, 471, 49, {""});
        return false;
    }
    return true;
}

bool SignatureJob::workOnDocumentCopy() {
    releaseText();
    workingTree_.reset();
    if (tree_ == nullptr) return false;
    workingTree_.reset(xmlCopyDoc(tree_, 1));
    return workingTree_ != nullptr;
}

bool SignatureJob::workElementCopy(xmlNodePtr element) {
    releaseText();
    workingTree_.reset();
    OwnedDoc doc(xmlNewDoc(BAD_CAST "1.0"));
    // libxml2 re-declares on the copy the namespaces it uses from ancestors.
    xmlNodePtr copy = doc ? xmlDocCopyNode(element, doc.get(), 1) : nullptr;
    if (copy == nullptr) return false;
    xmlDocSetRootElement(doc.get(), copy);
    workingTree_ = std::move(doc);
    return true;
}

}  // namespace tessal::xml
