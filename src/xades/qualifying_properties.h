#pragma once
// The qualifying properties of a signature under verification: the signer's
// certificate and key, the signed SigningCertificate digest, the signature
// and archive time-stamps, and the signer certificate's chain and revocation
// at the time the signature time-stamp proves (now without one).
#include <libxml/tree.h>

#include "xades/verification_job.h"

namespace tessal::xml {

// The elements of the signature that its digests cover, as the caller found them.
struct CoveredParts {
    // The SignedProperties that a Reference of SignedInfo designates, or none.
    xmlNodePtr signedProperties = nullptr;
    // The signature's SignatureValue; a signature time-stamp must cover it.
    xmlNodePtr signatureValue = nullptr;
};

// `keyInfo` may be null. Failures are recorded in the job; callers rely on
// the entries, not on the result.
bool checkQualifyingProperties(xmlNodePtr keyInfo, VerificationJob& job, xmlNodePtr object, CoveredParts covered);

}  // namespace tessal::xml
