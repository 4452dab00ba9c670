#pragma once
// A decoded CMS SignedData message, such as a time-stamp token: its inner
// content, the identifiers of its signers and the check of a signer's
// signature with a given certificate. Failures answer nothing or false and
// set the thread's last error (CRYPT_E_ASN1_BADTAG for undecodable bytes,
// CRYPT_E_UNEXPECTED_MSG_TYPE for other CMS types, NTE_BAD_SIGNATURE for a
// signature that does not verify, CRYPT_E_SIGNER_NOT_FOUND for a missing or
// unusable signer).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/x509.h"

namespace tessal::platform {

inline constexpr std::uint32_t kCryptUnexpectedMessageType = 0x8009200Au;
inline constexpr std::uint32_t kCryptSignerNotFound = 0x8009100Eu;

// A signer named by issuer and serial number.
struct CmsSignerId {
    std::vector<NameEntry> issuer;  // in encoded order, as Certificate::issuer
    ByteBlock serial;               // content octets of the INTEGER
};

class CmsMessage {
public:
    CmsMessage() = default;
    ~CmsMessage();
    CmsMessage(CmsMessage&& other) noexcept;
    CmsMessage& operator=(CmsMessage&& other) noexcept;
    CmsMessage(const CmsMessage&) = delete;
    CmsMessage& operator=(const CmsMessage&) = delete;

    // The whole message in DER (a ContentInfo holding SignedData).
    static std::optional<CmsMessage> decode(const std::uint8_t* data, std::size_t size);

    // The encapsulated content octets (for a time-stamp token, the TSTInfo
    // DER, or an OCTET STRING around it when the producer wrapped it);
    // nothing when the message carries no content.
    std::optional<ByteBlock> content() const;
    std::size_t signerCount() const;
    // Nothing when there is no such signer or it is named by key identifier.
    std::optional<CmsSignerId> signer(std::size_t index) const;
    // True when `certificate`'s public key verifies the signer's signature
    // over its signed attributes (or the content when it has none), and the
    // message digest attribute matches the content. The certificate's own
    // validity and purpose are not judged here.
    bool verifySigner(std::size_t index, const Certificate& certificate) const;

private:
    void* handle_ = nullptr;  // CMS_ContentInfo*
};

}  // namespace tessal::platform
