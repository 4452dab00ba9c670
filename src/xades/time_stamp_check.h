#pragma once
// Time-stamps of a signature: the bytes a time-stamp covers, gathered from
// its HashDataInfo references, and the token that must cover them: a CMS
// message signed by a time-stamp authority whose certificate the stores know
// and trust, carrying a TSTInfo whose imprint is the SHA-1 of those bytes.
#include <libxml/tree.h>

#include <cstddef>
#include <optional>
#include <string_view>

#include "crypto/time_stamp_context.h"
#include "data/codecs.h"
#include "platform/digest.h"
#include "xades/verification_job.h"

namespace tessal::xml {

// What a time-stamp covers, as the SHA-1 its imprint must equal: made from
// the bytes themselves, or from a CoveredBytes fed piece by piece.
struct CoveredData {
    CoveredData(const data::Bytes& bytes);  // NOLINT(google-explicit-constructor): bytes stand for their digest
    explicit CoveredData(std::optional<data::Bytes> digest) : sha1(std::move(digest)) {}
    std::optional<data::Bytes> sha1;  // nothing for no bytes or a library failure
};

// The bytes a time-stamp covers, hashed as they come: HashDataInfo entries
// may each designate the whole document, so no copy of them is kept.
class CoveredBytes {
public:
    CoveredBytes();
    void add(std::string_view octets);
    // The digest of everything added; nothing for no bytes or a library failure.
    CoveredData finish();

private:
    platform::DigestStream stream_;
    std::size_t length_ = 0;
    bool failed_ = false;
};

// Checks one SignatureTimeStamp or ArchiveTimeStamp element. `earlier` is
// the generation time of the time-stamp before it, at which its authority's
// certificate is judged (now, with a revocation check, when none).
bool checkTimeStamp(VerificationJob& job, xmlNodePtr element, crypto::TimeStampContext& context,
                    std::optional<crypto::FileTime> earlier);

// Checks a Base64 token over `data`; entries go to the context's record.
bool verifyTimeStampToken(crypto::TimeStampContext& context, std::string_view base64, const CoveredData& data,
                          std::optional<crypto::FileTime> earlier);

// Checks the TSTInfo (possibly wrapped in an OCTET STRING) against `data`
// and sets the context's generation time.
bool checkTstInfo(crypto::TimeStampContext& context, const data::Bytes& content, const CoveredData& data);

}  // namespace tessal::xml
