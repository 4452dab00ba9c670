#include "xades/time_stamp_check.h"

#include <ctime>
#include <string>
#include <unordered_map>

#include "certs/name_text.h"
#include "diagnostics/message_catalogue.h"
#include "pki/certificate_store.h"
#include "pki/crl_store.h"
#include "platform/asn1_reader.h"
#include "platform/cms_message.h"
#include "xades/reference_digests.h"
#include "xades/xades_texts.h"
#include "xmlsig/canonicalisation.h"

namespace tessal::xml {

namespace {

constexpr int kMalformedMessage = 81;
constexpr int kExternalMessage = 92;
constexpr int kExternalMissingMessage = 93;
constexpr int kLoadMessage = 83;
constexpr int kBase64Message = 7;
constexpr int kCmsMessage = 76;
constexpr int kTokenSignatureMessage = 77;
constexpr int kAsn1Message = 78;
constexpr int kTokenFormMessage = 79;
constexpr int kModifiedMessage = 84;
constexpr int kAuthorityMessage = 87;


// The referenced certificate or CRL document, as an XmlDocument whose root or
// Id-named element is the time-stamped data.
template <typename Record>
bool appendExternal(VerificationJob& job, crypto::TimeStampContext& context, std::string_view documentUrl,
                    std::string_view fragment, int place, CoveredBytes& covered) {
    Record record;
    bool found = false;
    if constexpr (std::is_same_v<Record, certs::CertificateRecord>) {
        found = pki::findCertificateByUrl(documentUrl, record, *context.certificates.certificateClient);
    } else {
        found = pki::findCrlByUrl(documentUrl, record, *context.certificates.crlClient);
    }
    if (!found) {
        diag::recordErrorCode(job.error(), 0, place, kExternalMissingMessage, {documentUrl});
        job.error().merge(record.error());
        return false;
    }
    xmlNodePtr element = fragment.empty() ? record.rootElement() : record.elementByIdInDocument(fragment);
    if (!job.loadElement(element)) {
        diag::recordErrorCode(job.error(), 0, 417, kLoadMessage);
        diag::recordErrorCode(job.error(), 0, place, kMalformedMessage);
        return false;
    }
    if (!job.canonicaliseCurrentData(kC14nInclusive)) {
        diag::recordErrorCode(job.error(), 0, place, kMalformedMessage);
        return false;
    }
    covered.add(job.text());
    return true;
}

// The same-document entries of one time-stamp already worked out, by URI
// and transforms, so data the time-stamp names many times is canonicalised
// once. Octets are held up to a fixed total; past it, entries are worked out
// afresh. A failure is replayed by its codes: its entries are in the record.
class KnownEntries {
public:
    struct Entry {
        std::optional<std::string> octets;
        bool failed = false;
        std::uint32_t lastError = 0;
        std::int32_t code = 0;
    };

    const Entry* find(const std::string& key) const {
        const auto found = entries_.find(key);
        return found == entries_.end() ? nullptr : &found->second;
    }
    void remember(std::string key, Entry entry) {
        const std::size_t size = entry.octets ? entry.octets->size() : 0;
        if (held_ + size > kHeldLimit) return;
        held_ += size;
        entries_.insert_or_assign(std::move(key), std::move(entry));
    }

private:
    static constexpr std::size_t kHeldLimit = std::size_t{64} << 20;
    std::unordered_map<std::string, Entry> entries_;
    std::size_t held_ = 0;
};

// A same-document entry: the octets its URI and transforms designate.
void addSameDocumentEntry(VerificationJob& job, std::string_view value, xmlNodePtr info, CoveredBytes& covered,
                          KnownEntries& known) {
    std::string key = ReferenceDigests::keyOf(value, info, std::nullopt);
    if (const KnownEntries::Entry* earlier = known.find(key)) {
        if (earlier->failed) {
            job.error().lastError = earlier->lastError;
            job.error().code = earlier->code;
        }
        if (earlier->octets) covered.add(*earlier->octets);
        return;
    }
    KnownEntries::Entry entry;
    entry.failed = !job.dereferenceAndTransform(value, info->children);
    // A failed dereference has recorded why; what octets there are still count.
    if (job.hasOctets()) {
        covered.add(job.text());
        entry.octets.emplace(job.text());
    }
    entry.lastError = job.error().lastError;
    entry.code = job.error().code;
    known.remember(std::move(key), std::move(entry));
}

// One HashDataInfo: its data added to what the time-stamp covers.
bool appendHashDataInfo(VerificationJob& job, xmlNodePtr info, crypto::TimeStampContext& context,
                        CoveredBytes& covered, KnownEntries& known) {
    const std::optional<std::string> uri = attributeText(info, "uri");
    if (!uri) {
        diag::recordErrorCode(job.error(), 0, 461, kMalformedMessage);
        return false;
    }
    std::string_view value = trimmedSpace(*uri);
    if (value.empty() || value.front() == '#') {
        while (!value.empty() && value.front() == '#') value.remove_prefix(1);
        addSameDocumentEntry(job, value, info, covered, known);
        return true;
    }
    const std::size_t hash = value.rfind('#');
    const std::string_view fragment = hash == std::string_view::npos ? std::string_view() : trimmedSpace(value.substr(hash + 1));
    const std::string_view documentUrl = value.substr(0, hash);
    switch (externalKindOf(*uri)) {
        case ExternalKind::Certificate:
        case ExternalKind::Trust:
            return appendExternal<certs::CertificateRecord>(job, context, documentUrl, fragment, 461, covered);
        case ExternalKind::Crl:
            return appendExternal<certs::CrlRecord>(job, context, documentUrl, fragment, 462, covered);
        case ExternalKind::Other: break;
    }
    diag::recordErrorCode(job.error(), 0, 463, kExternalMessage, {kExternalDataText});
    return false;
}

// A DER decoding step of the TSTInfo check; `place` is recorded on failure.
template <typename T>
std::optional<T> decoded(crypto::TimeStampContext& context, std::optional<T> result, int place) {
    if (!result) diag::recordError(context.error(), place, kAsn1Message, {diag::kCategoryCrypto});
    return result;
}

int digitsAt(const platform::ByteBlock& bytes, std::size_t from, std::size_t count) {
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (bytes[i] < '0' || bytes[i] > '9') break;  // a number stops at the first non-digit
        value = value * 10 + (bytes[i] - '0');
    }
    return value;
}

// GeneralizedTime "YYYYMMDDhhmmss..." read as UTC; fractions and zone are not read.
std::optional<crypto::FileTime> generationTimeOf(const platform::ByteBlock& element, bool& badCalendar) {
    badCalendar = false;
    std::tm tm{};
    tm.tm_year = digitsAt(element, 2, 4) - 1900;
    tm.tm_mon = digitsAt(element, 6, 2) - 1;
    tm.tm_mday = digitsAt(element, 8, 2);
    tm.tm_hour = digitsAt(element, 10, 2);
    tm.tm_min = digitsAt(element, 12, 2);
    tm.tm_sec = digitsAt(element, 14, 2);
    const std::tm given = tm;
    const std::time_t seconds = timegm(&tm);
    // timegm normalises out-of-range fields; a changed field was not a valid date.
    if (tm.tm_year < 1601 - 1900 || given.tm_mon != tm.tm_mon || given.tm_mday != tm.tm_mday ||
        given.tm_hour != tm.tm_hour || given.tm_min != tm.tm_min || given.tm_sec != tm.tm_sec) {
        badCalendar = true;
        return std::nullopt;
    }
    return crypto::fileTimeOfSeconds(static_cast<std::int64_t>(seconds));
}

}  // namespace

CoveredData::CoveredData(const data::Bytes& bytes) : sha1(crypto::digestOf(bytes.data(), bytes.size(), crypto::CALG_SHA1)) {}

CoveredBytes::CoveredBytes() : stream_(platform::DigestKind::Sha1) {}

void CoveredBytes::add(std::string_view octets) {
    if (octets.empty() || failed_) return;
    if (!stream_.update(reinterpret_cast<const std::uint8_t*>(octets.data()), octets.size())) failed_ = true;
    length_ += octets.size();
}

CoveredData CoveredBytes::finish() {
    // As for a digest of one block: no bytes is no digest.
    if (length_ == 0 || failed_ || !stream_.ok()) return CoveredData(std::nullopt);
    return CoveredData(stream_.finish());
}

bool checkTimeStamp(VerificationJob& job, xmlNodePtr element, crypto::TimeStampContext& context,
                    std::optional<crypto::FileTime> earlier) {
    CoveredBytes covered;
    KnownEntries known;
    for (xmlNodePtr child = element->children; child; child = child->next) {
        if (isIgnorable(child)) continue;
        if (child->type != XML_ELEMENT_NODE) {
            diag::recordErrorCode(job.error(), 0, 460, kMalformedMessage);
            return false;
        }
        if (nameIs(child, "HashDataInfo")) {
            if (!appendHashDataInfo(job, child, context, covered, known)) return false;
        } else if (nameIs(child, "EncapsulatedTimeStamp")) {
            const std::optional<std::string> token = firstChildText(child);
            if (!token) {
                diag::recordErrorCode(job.error(), 0, 465, kMalformedMessage);
                return false;
            }
            if (verifyTimeStampToken(context, *token, covered.finish(), earlier)) return true;
            job.error().merge(context.error());
            return false;
        } else {
            diag::recordErrorCode(job.error(), 0, 463, kMalformedMessage);
            return false;
        }
    }
    diag::recordErrorCode(job.error(), 0, 464, kMalformedMessage);
    return false;
}

bool verifyTimeStampToken(crypto::TimeStampContext& context, std::string_view base64, const CoveredData& data,
                          std::optional<crypto::FileTime> earlier) {
    diag::ErrorRecord& error = context.error();
    data::Bytes token;
    if (!data::base64Decode(base64, token) || token.empty()) {
        diag::recordErrorCode(error, 0, 1120, kBase64Message, {diag::kCategoryCrypto});
        return false;
    }
    std::optional<platform::CmsMessage> message = platform::CmsMessage::decode(token.data(), token.size());
    if (!message) {
        diag::recordError(error, 1111, kCmsMessage);
        return false;
    }
    const std::optional<platform::ByteBlock> content = message->content();
    if (!content) {
        diag::recordError(error, 1112, kCmsMessage);
        return false;
    }
    const std::optional<platform::CmsSignerId> signer = message->signer(0);
    if (!signer) {
        diag::recordError(error, 1114, kCmsMessage);
        return false;
    }

    std::string serial;
    certs::decimalFromBigEndian(signer->serial.data(), signer->serial.size(), serial);
    const std::string key = certs::nameText(signer->issuer) + "&" + serial;
    const std::optional<std::int64_t> at =
        earlier ? std::optional<std::int64_t>(crypto::secondsOfFileTime(*earlier)) : std::nullopt;
    // Only a time-stamp judged now has its authority's revocation checked;
    // one judged at an earlier time-stamp's time relies on that one.
    if (!context.importPublicKey(pki::CertByIssuerSerial, key) || !context.certificates.verifyChain(at) ||
        (!earlier && !context.certificates.checkRevocation())) {
        diag::recordErrorCode(error, 0, 1117, kAuthorityMessage);
        return false;
    }
    if (!message->verifySigner(0, context.certificates.subject.certificate())) {
        diag::recordError(error, 1118, kTokenSignatureMessage);
        return false;
    }
    return checkTstInfo(context, *content, data);
}

bool checkTstInfo(crypto::TimeStampContext& context, const data::Bytes& contentBytes, const CoveredData& data) {
    diag::ErrorRecord& error = context.error();
    context.tstInfo.clear();
    data::Bytes content = contentBytes;
    if (!content.empty() && content[0] == 0x04) {
        const auto inner = decoded(context, platform::decodeOctetString(content.data(), content.size()), 1129);
        if (!inner) return false;
        content = *inner;
    }
    const auto elements = decoded(context, platform::decodeSequenceOfAny(content.data(), content.size()), 1132);
    if (!elements) return false;
    context.tstInfo = *elements;
    if (elements->size() < 5) {
        diag::recordErrorCode(error, 0, 1133, kTokenFormMessage);
        return false;
    }
    const platform::ByteBlock& imprintElement = (*elements)[2];
    if (imprintElement.empty() || imprintElement[0] != 0x30) {
        diag::recordErrorCode(error, 0, 1134, kTokenFormMessage);
        return false;
    }
    const auto imprintParts =
        decoded(context, platform::decodeSequenceOfAny(imprintElement.data(), imprintElement.size()), 1137);
    if (!imprintParts) return false;
    if (imprintParts->size() < 2) {
        diag::recordErrorCode(error, 0, 1138, kTokenFormMessage);
        return false;
    }
    const auto imprint =
        decoded(context, platform::decodeOctetString((*imprintParts)[1].data(), (*imprintParts)[1].size()), 1141);
    if (!imprint) return false;

    const platform::ByteBlock& genTime = (*elements)[4];
    if (genTime.size() < 17 || genTime[0] != 0x18) {
        diag::recordErrorCode(error, 0, 1150, kTokenFormMessage);
        return false;
    }
    bool badCalendar = false;
    const std::optional<crypto::FileTime> generated = generationTimeOf(genTime, badCalendar);
    if (!generated) {
        diag::recordErrorCode(error, 0, 1152, kTokenFormMessage);
        return false;
    }
    context.generationTime = generated;

    // The generation time stays set even when the imprint differs: the
    // signer's certificate is still judged at that time.
    if (!data.sha1 || *data.sha1 != *imprint) {
        diag::recordErrorCode(error, 0, 1142, kModifiedMessage);
        return false;
    }
    return true;
}

}  // namespace tessal::xml
