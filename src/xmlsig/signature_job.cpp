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

void SignatureJob::releaseCurrentData() {
    releaseText();
    workingTree_.reset();
    viewing_ = false;
    hidden_.clear();
}

bool SignatureJob::viewDocument() {
    releaseCurrentData();
    if (tree_ == nullptr) return false;
    viewing_ = true;
    return true;
}

bool SignatureJob::materialiseView() {
    xmlNodePtr root = xmlDocGetRootElement(tree_);
    // Hidden nodes are children of the root; the copy's children at the same
    // positions are the ones to remove.
    std::vector<std::size_t> positions;
    std::size_t position = 0;
    for (xmlNodePtr child = root ? root->children : nullptr; child != nullptr; child = child->next, ++position) {
        if (std::find(hidden_.begin(), hidden_.end(), child) != hidden_.end()) positions.push_back(position);
    }
    OwnedDoc copy(xmlCopyDoc(tree_, 1));
    if (!copy) {
        diag::recordErrorCode(error_, 0, 420, 57, {""});
        return false;
    }
    xmlNodePtr copyRoot = xmlDocGetRootElement(copy.get());
    std::vector<xmlNodePtr> removed;
    position = 0;
    for (xmlNodePtr child = copyRoot ? copyRoot->children : nullptr; child != nullptr; child = child->next, ++position) {
        if (std::find(positions.begin(), positions.end(), position) != positions.end()) removed.push_back(child);
    }
    for (xmlNodePtr child : removed) {
        xmlUnlinkNode(child);
        xmlFreeNode(child);
    }
    viewing_ = false;
    hidden_.clear();
    workingTree_ = std::move(copy);
    return true;
}

bool SignatureJob::ensureTreeOrView() {
    if (viewing_ && !hasOctets()) return true;
    return ensureTree();
}

bool SignatureJob::ensureTree() {
    const bool haveTree = hasTreeData();
    if (haveTree == hasOctets()) {
        diag::recordErrorCode(error_, 0, 470, 80);
        return false;
    }
    if (viewing_) return materialiseView();
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

bool SignatureJob::workElementCopy(xmlNodePtr element) {
    releaseCurrentData();
    OwnedDoc doc(xmlNewDoc(BAD_CAST "1.0"));
    // libxml2 re-declares on the copy the namespaces it uses from ancestors.
    xmlNodePtr copy = doc ? xmlDocCopyNode(element, doc.get(), 1) : nullptr;
    if (copy == nullptr) return false;
    xmlDocSetRootElement(doc.get(), copy);
    workingTree_ = std::move(doc);
    return true;
}

}  // namespace tessal::xml
