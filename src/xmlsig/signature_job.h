#pragma once
// The working state of one signing or verification run: the caller's parsed
// document (the inherited tree), the working tree that transforms edit, and
// the canonical octets (the inherited text). After every step the current
// data is in exactly one of the two representations, working tree or octets.
#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

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
    // (places 470/80, 470/49). A view of the main tree becomes a copy of it
    // with the hidden subtrees removed (420/57 when the copy fails).
    bool ensureTree();
    // Working tree (or view) to octets with one of the four methods (416/96, 416/83).
    bool canonicalise(std::string_view method);
    // The same, with the octets handed to `sink` as they are produced instead
    // of kept; the job holds no current data afterwards.
    bool canonicaliseInto(std::string_view method, const OctetSink& sink);
    // Makes the main tree itself, read in place, the current data; false when
    // there is no main tree. Nothing is copied until a step must edit it.
    bool viewDocument();
    // Ensure tree, then canonicalise (416/83 when no tree is obtained).
    bool canonicaliseCurrentData(std::string_view method);
    // The inclusive canonical octets of a standalone XML text (415/83).
    bool canonicaliseFragment(std::string_view text);
    // A working tree holding a deep copy of the first element at or after
    // `node` (471/80, 471/49).
    bool loadElement(xmlNodePtr node);

    // The octets a same-document reference designates after its transforms;
    // `value` has its leading '#' already removed ("" is the whole document),
    // `transformsStart` is the first node where a Transforms element may stand.
    // The whole document is read in place (the enveloped-signature transform
    // hides the signature instead of removing it from a copy). With a sink the
    // final octets go to it and are not kept.
    bool dereferenceAndTransform(std::string_view value, xmlNodePtr transformsStart,
                                 const OctetSink* sink = nullptr);
    // The two halves of the above: the referenced data as a working tree
    // (420/57, 457/82, 458/82), then the transforms and the final
    // canonicalisation. dereference("") makes a copy of the whole document.
    bool dereference(std::string_view value);
    bool applyTransforms(xmlNodePtr start, const OctetSink* sink = nullptr);

    xmlDocPtr workingTree() const { return workingTree_.get(); }
    bool hasOctets() const { return text_ != nullptr; }
    void releaseWorkingTree() { workingTree_.reset(); }
    // True while the current data is the main tree read in place.
    bool viewsDocument() const { return viewing_; }

    crypto::SignerContext* signer() const { return signer_; }
    SignatureInfo* info() const { return info_; }
    xmlNodePtr signatureElement() const { return signatureElement_; }
    void setSignatureElement(xmlNodePtr element) { signatureElement_ = element; }
    std::uint32_t signatureTimeStamp() const { return signatureTimeStamp_; }
    void setSignatureTimeStamp(std::uint32_t flag) { signatureTimeStamp_ = flag; }

private:
    void replaceWorkingTree(xmlDocPtr tree) { workingTree_.reset(tree); }
    // Working tree or view: the data is still a tree.
    bool hasTreeData() const { return workingTree_ != nullptr || viewing_; }
    // The tree the current data is read from (the main tree for a view), and
    // the subtrees a view leaves out.
    xmlDocPtr currentTree() const { return viewing_ ? tree_ : workingTree_.get(); }
    std::span<const xmlNodePtr> hiddenNodes() const {
        return viewing_ ? std::span<const xmlNodePtr>(hidden_) : std::span<const xmlNodePtr>();
    }
    // Drops octets, working tree and view.
    void releaseCurrentData();
    // Ensure tree, except that a view stays a view.
    bool ensureTreeOrView();
    // The copy of the main tree that a view stands for.
    bool materialiseView();
    // Hands the octets to the sink and releases them (416/83 when it refuses).
    bool handOctetsTo(const OctetSink& sink);
    // Makes a new document holding a deep copy of `element` the working tree,
    // releasing the current data; false when the copy cannot be made.
    bool workElementCopy(xmlNodePtr element);
    // Takes canonical octets into the inherited text, replacing any earlier ones.
    void takeOctets(CanonicalOctets&& octets);
    bool xpathFilter(xmlNodePtr transform);
    bool envelopedSignature();

    OwnedDoc workingTree_;
    // The view of the main tree and the subtrees it leaves out.
    bool viewing_ = false;
    std::vector<xmlNodePtr> hidden_;
    std::uint32_t signatureTimeStamp_ = 0;
    xmlNodePtr signatureElement_ = nullptr;
    SignatureInfo* info_ = nullptr;
    // A verifying job (VerificationJob) adds the verifier and time-stamp contexts.
    crypto::SignerContext* signer_ = nullptr;
};

}  // namespace tessal::xml
