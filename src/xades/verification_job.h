#pragma once
// A signature job that verifies: besides the document pipeline it holds the
// signer's verification context (whose working set receives the signer's
// certificate, chain and CRL), the signature time-stamp context and copies of
// the archive time-stamp contexts that passed their check.
#include <cstddef>
#include <vector>

#include "crypto/time_stamp_context.h"
#include "crypto/verifier_context.h"
#include "xmlsig/signature_job.h"

namespace tessal::xml {

class VerificationJob : public SignatureJob {
public:
    VerificationJob(const void* input, std::size_t size, crypto::SignerContext* signer, SignatureInfo* info)
        : SignatureJob(input, size, signer, info) {}

    crypto::VerifierContext verifier;
    crypto::TimeStampContext signatureTimeStampContext;
    std::vector<crypto::TimeStampContext> archiveTimeStampContexts;
};

}  // namespace tessal::xml
