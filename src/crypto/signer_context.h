#pragma once
// The signer's key pair in a named container, on a smart card in a reader or
// in an HSM: it hashes and signs (signature bytes least significant first),
// checks that the card still answers, settles which digest an HSM key
// accepts, and finds and judges the key's certificate.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "crypto/crypto_context.h"
#include "data/codecs.h"
#include "pki/client_identity.h"
#include "platform/smart_card.h"

namespace tessal::crypto {

// The reader name of a container in an HSM.
inline constexpr std::string_view kHsmReader = "HSM";

class SignerContext : public CryptoContext, public pki::ClientIdentity {
public:
    // Opens the container; failures are in the context's record (a card
    // container whose key set is missing leaves no provider and no entry).
    SignerContext(std::string_view reader, std::string_view provider, std::string_view container);
    ~SignerContext() override;

    bool checkCardPresent();
    AlgId negotiateHashAlgorithm(AlgId requested);
    bool sign(const std::uint8_t* data, std::size_t size, AlgId algId, data::Bytes& signature);
    // Base64 of the signature; `raw` receives the bytes as sign left them.
    bool signToBase64(const std::uint8_t* data, std::size_t size, AlgId algId, data::Bytes* raw, std::string& out);

    // The key's certificate is found and meets the issuing organisation's
    // rules now: organisation, validity, chain, revocation.
    bool meetsSystemRequirements();
    bool certificateFromKey();
    bool certificateByKeyHash();

    // The certificate and key presented to servers that demand a client
    // certificate; the binding is undone when the key pair is fetched again.
    const diag::Utf8Text& subjectText() const override { return certificates.subject.subject(); }
    const platform::ByteBlock& certificateDer() const override { return certificates.subject.certificate().der(); }
    std::vector<platform::ByteBlock> issuerCertificates() const override;
    bool clientKeyBound() const override;
    bool bindClientKey() override;
    std::shared_ptr<platform::RsaPrivateOperation> clientKey() const override;

    const std::string& readerName() const { return readerName_; }
    const std::string& providerName() const { return providerName_; }
    const std::string& containerName() const { return containerName_; }
    bool isHsm() const { return readerName_ == kHsmReader; }
    bool hasKey() const { return userKey_ != nullptr; }
    platform::KeySpec keySpec() const { return keySpec_; }
    AlgId hashAlgorithm() const { return hashAlgorithm_; }

private:
    // The key pair under the current key spec, fetched again after a switch.
    bool takeUserKey();

    std::string readerName_;
    std::unique_ptr<platform::CardContext> cardSubsystem_;
    AlgId hashAlgorithm_ = 0;
    std::string providerName_;
    std::string containerName_;
    platform::KeySpec keySpec_ = platform::KeySpec::Exchange;
    std::unique_ptr<platform::UserKey> userKey_;
    mutable std::mutex clientKeyLock_;  // the binding may be asked for from any thread
    std::shared_ptr<platform::RsaPrivateOperation> clientKey_;
};

}  // namespace tessal::crypto
