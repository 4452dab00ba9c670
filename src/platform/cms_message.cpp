#include "platform/cms_message.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <mutex>

#include "platform/asn1_reader.h"
#include "platform/crypto_provider.h"
#include "platform/last_error.h"
#include "platform/trap_released_lock.h"
#include "platform/x509_names.h"

namespace tessal::platform {

namespace {

CMS_ContentInfo* cms(void* h) { return static_cast<CMS_ContentInfo*>(h); }

// Records `code` and drops whatever libcrypto queued for the failure.
void fail(std::uint32_t code) {
    ERR_clear_error();
    setLastError(code);
}

CMS_SignerInfo* signerInfo(void* h, std::size_t index) {
    if (!h) return nullptr;
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms(h));
    if (!infos || index >= static_cast<std::size_t>(sk_CMS_SignerInfo_num(infos))) return nullptr;
    return sk_CMS_SignerInfo_value(infos, static_cast<int>(index));
}

// Verifying binds the certificate into the shared SignerInfo, so two checks
// on one message must not interleave; the checks are few and short.
TrapReleasedMutex verifyMutex;

// Feeds the encapsulated content through the signed-data digest chain and
// compares the signer's message digest (or, without signed attributes, its
// signature over the content digest).
bool contentMatches(CMS_ContentInfo* message, CMS_SignerInfo* si) {
    BIO* chain = CMS_dataInit(message, nullptr);
    if (!chain) return false;
    char buffer[4096];
    int n = 0;
    while ((n = BIO_read(chain, buffer, sizeof buffer)) > 0) {
    }
    const bool ok = n == 0 && CMS_SignerInfo_verify_content(si, chain) == 1;
    BIO_free_all(chain);
    return ok;
}

}  // namespace

CmsMessage::~CmsMessage() { CMS_ContentInfo_free(cms(handle_)); }

CmsMessage::CmsMessage(CmsMessage&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

CmsMessage& CmsMessage::operator=(CmsMessage&& other) noexcept {
    if (this != &other) {
        CMS_ContentInfo_free(cms(handle_));
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

std::optional<CmsMessage> CmsMessage::decode(const std::uint8_t* data, std::size_t size) {
    if (!data || size == 0 || size > 0x7FFFFFFF) {
        fail(kAsn1BadTag);
        return std::nullopt;
    }
    const unsigned char* p = data;
    CMS_ContentInfo* decoded = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(size));
    if (!decoded) {
        fail(kAsn1BadTag);
        return std::nullopt;
    }
    CmsMessage out;
    out.handle_ = decoded;
    if (OBJ_obj2nid(CMS_get0_type(decoded)) != NID_pkcs7_signed) {
        fail(kCryptUnexpectedMessageType);
        return std::nullopt;
    }
    return out;
}

std::optional<ByteBlock> CmsMessage::content() const {
    if (!handle_) return std::nullopt;
    ASN1_OCTET_STRING** content = CMS_get0_content(cms(handle_));
    if (!content || !*content) return std::nullopt;
    const unsigned char* bytes = ASN1_STRING_get0_data(*content);
    return ByteBlock(bytes, bytes + ASN1_STRING_length(*content));
}

std::size_t CmsMessage::signerCount() const {
    if (!handle_) return 0;
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms(handle_));
    const int count = infos ? sk_CMS_SignerInfo_num(infos) : 0;
    return count > 0 ? static_cast<std::size_t>(count) : 0;
}

std::optional<CmsSignerId> CmsMessage::signer(std::size_t index) const {
    CMS_SignerInfo* si = signerInfo(handle_, index);
    ASN1_OCTET_STRING* keyId = nullptr;
    X509_NAME* issuer = nullptr;
    ASN1_INTEGER* serial = nullptr;
    if (!si || CMS_SignerInfo_get0_signer_id(si, &keyId, &issuer, &serial) != 1 || !issuer || !serial) {
        fail(kCryptSignerNotFound);
        return std::nullopt;
    }
    return CmsSignerId{detail::entriesOf(issuer), detail::integerContent(serial)};
}

// A missing signer answers CRYPT_E_SIGNER_NOT_FOUND, a certificate without a
// usable key NTE_BAD_PUBLIC_KEY, and every failed check NTE_BAD_SIGNATURE.
bool CmsMessage::verifySigner(std::size_t index, const Certificate& certificate) const {
    CMS_SignerInfo* si = signerInfo(handle_, index);
    if (!si) {
        fail(kCryptSignerNotFound);
        return false;
    }
    const ByteBlock& der = certificate.der();
    const unsigned char* p = der.data();
    X509* x = der.empty() || der.size() > 0x7FFFFFFF ? nullptr : d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    EVP_PKEY* key = x ? X509_get0_pubkey(x) : nullptr;
    if (!key) {
        X509_free(x);
        fail(kNteBadPublicKey);
        return false;
    }
    bool ok = false;
    {
        std::lock_guard lock(verifyMutex);
        CMS_SignerInfo_set1_signer_cert(si, x);
        // Without signed attributes the signature covers the content digest,
        // which the content check verifies on its own.
        const bool attributesOk = CMS_signed_get_attr_count(si) < 0 || CMS_SignerInfo_verify(si) == 1;
        ok = attributesOk && contentMatches(cms(handle_), si);
    }
    X509_free(x);
    if (!ok) fail(kNteBadSignature);
    return ok;
}

}  // namespace tessal::platform
