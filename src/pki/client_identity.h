#pragma once
// The identity the web-service client presents when a server demands a
// client certificate: the selected signer's certificate, bound to the
// private operation of its key. The key layer sits above this one, so it
// registers how the current identity is found.
#include <memory>
#include <vector>

#include "diagnostics/utf8_text.h"
#include "platform/crypto_provider.h"
#include "platform/x509.h"

namespace tessal::pki {

class ClientIdentity {
public:
    virtual ~ClientIdentity();
    // The certificate's subject name text, for the trace.
    virtual const diag::Utf8Text& subjectText() const = 0;
    // The DER certificate; empty when there is none.
    virtual const platform::ByteBlock& certificateDer() const = 0;
    // Its issuers known so far, nearest first: sent along, so that a server
    // that trusts only the root can build the path.
    virtual std::vector<platform::ByteBlock> issuerCertificates() const = 0;
    // The certificate is bound to its key once, by the first bindClientKey
    // that succeeds; false with the last error set when it cannot be.
    virtual bool clientKeyBound() const = 0;
    virtual bool bindClientKey() = 0;
    virtual std::shared_ptr<platform::RsaPrivateOperation> clientKey() const = 0;
};

// Answers the current identity, or none. Called without a lock on the
// caller's thread, as the selected signer is read.
using ClientIdentityLookup = ClientIdentity* (*)();

void setClientIdentityLookup(ClientIdentityLookup lookup);
// None when no lookup is registered or no signer is selected.
ClientIdentity* currentClientIdentity();

}  // namespace tessal::pki
