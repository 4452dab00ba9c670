#pragma once
// Verification of the enveloped signature of a document: its structure, the
// signing time, the qualifying properties and time-stamps, every reference
// digest and the signature value. Every defect found is recorded; the run
// succeeds only when the job's record stays empty.
#include "xades/verification_job.h"

namespace tessal::xml {

// On success the job's verifier holds the signer's certificate. The job's SignatureInfo, when it
// has one, receives the results either way.
bool verifySignature(VerificationJob& job);

}  // namespace tessal::xml
