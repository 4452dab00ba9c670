#pragma once
// Creation of the enveloped signature: the document wrapped in an EDoc root
// when needed, one XML-Signature with XAdES qualifying properties (signing
// time, signing certificate, implied policy) appended as the root's last
// child, and the signed document left as UTF-8 text in the job.
#include <string>

#include "crypto/time_stamp_context.h"
#include "xmlsig/signature_job.h"

namespace tessal::xml {

// The job must have been built with a signer and a SignatureInfo.
bool createSignature(SignatureJob& job);

// The signing time as written ("...Z" in a UTC zone, else with the zone's
// offset) and its UTC moment.
std::string signingTimeText(crypto::FileTime& utc);

// 32 upper-case hexadecimal digits of a random (version 4) UUID; "" when no
// random bytes can be had.
std::string randomIdentifier();

}  // namespace tessal::xml
