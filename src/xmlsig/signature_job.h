#pragma once
// The working state of one signing or verification run: the caller's parsed
// document (the inherited tree), the working tree that transforms edit, and
// the canonical octets (the inherited text). After every step the current
// data is in exactly one of the two representations, working tree or octets.
#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "xmlsig/canonicalisation.h"
#include "xmlsig/libxml_owners.h"
#include "xmlsig/xml_document.h"

namespace tessal::crypto {
class SignerContext;
}

namespace tessal::xml {

class SignatureInfo;

class SignatureJob : public XmlDocument {
public:
    // Parses the input as XmlDocument does. `signer` is present only when the
    // job signs; `info` receives the results of the run. Neither is owned.
    SignatureJob(const void* input, std::size_t size, crypto::SignerContext* signer, SignatureInfo* info);
    ~SignatureJob() override;

    // Makes the working tree the current data, re-parsing octets if needed
    // (places 470/80, 470/49).
    bool ensureTree();
    // Working tree to octets with one of the four methods (416/96, 416/83).
    bool canonicalise(std::string_view method);
    // Ensure tree, then canonicalise (416/83 when no tree is obtained).
    bool canonicaliseCurrentData(std::string_view method);
    // The inclusive canonical octets of a standalone XML text (415/83).
    bool canonicaliseFragment(std::string_view text);
    // Releases the current data; the working tree becomes a deep copy of the
    // whole document. False when the copy cannot be made.
    bool workOnDocumentCopy();
    // A working tree holding a deep copy of the first element at or after
    // `node` (471/80, 471/49).
    bool loadElement(xmlNodePtr node);

    // The octets a same-document reference designates after its transforms;
    // `value` has its leading '#' already removed ("" is the whole document),
    // `transformsStart` is the first node where a Transforms element may stand.
    bool dereferenceAndTransform(std::string_view value, xmlNodePtr transformsStart);
    // The two halves of the above: the referenced data as a working tree
    // (420/57, 457/82, 458/82), then the transforms and the final
    // canonicalisation.
    bool dereference(std::string_view value);
    bool applyTransforms(xmlNodePtr start);

    xmlDocPtr workingTree() const { return workingTree_.get(); }
    bool hasOctets() const { return text_ != nullptr; }
    void releaseWorkingTree() { workingTree_.reset(); }

    crypto::SignerContext* signer() const { return signer_; }
    SignatureInfo* info() const { return info_; }
    xmlNodePtr signatureElement() const { return signatureElement_; }
    void setSignatureElement(xmlNodePtr element) { signatureElement_ = element; }
    std::uint32_t signatureTimeStamp() const { return signatureTimeStamp_; }
    void setSignatureTimeStamp(std::uint32_t flag) { signatureTimeStamp_ = flag; }

private:
    void replaceWorkingTree(xmlDocPtr tree) { workingTree_.reset(tree); }
    // Makes a new document holding a deep copy of `element` the working tree,
    // releasing the current data; false when the copy cannot be made.
    bool workElementCopy(xmlNodePtr element);
    // Takes canonical octets into the inherited text, replacing any earlier ones.
    void takeOctets(CanonicalOctets&& octets);
    bool xpathFilter(xmlNodePtr transform);
    bool envelopedSignature();

    OwnedDoc workingTree_;
    std::uint32_t signatureTimeStamp_ = 0;
    xmlNodePtr signatureElement_ = nullptr;
    SignatureInfo* info_ = nullptr;
    // A verifying job (VerificationJob) adds the verifier and time-stamp contexts.
    crypto::SignerContext* signer_ = nullptr;
};

}  // namespace tessal::xml
