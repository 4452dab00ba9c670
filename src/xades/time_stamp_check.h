#pragma once
// Time-stamps of a signature: the bytes a time-stamp covers, gathered from
// its HashDataInfo references, and the token that must cover them: a CMS
// message signed by a time-stamp authority whose certificate the stores know
// and trust, carrying a TSTInfo whose imprint is the SHA-1 of those bytes.
#include <libxml/tree.h>

#include <optional>
#include <string_view>

#include "crypto/time_stamp_context.h"
#include "data/codecs.h"
#include "xades/verification_job.h"

namespace tessal::xml {

// Checks one SignatureTimeStamp or ArchiveTimeStamp element. `earlier` is
// the generation time of the time-stamp before it, at which its authority's
// certificate is judged (now, with a revocation check, when none).
bool checkTimeStamp(VerificationJob& job, xmlNodePtr element, crypto::TimeStampContext& context,
                    std::optional<crypto::FileTime> earlier);

// Checks a Base64 token over `data`; entries go to the context's record.
bool verifyTimeStampToken(crypto::TimeStampContext& context, std::string_view base64, const data::Bytes& data,
                          std::optional<crypto::FileTime> earlier);

// Checks the TSTInfo (possibly wrapped in an OCTET STRING) against `data`
// and sets the context's generation time.
bool checkTstInfo(crypto::TimeStampContext& context, const data::Bytes& content, const data::Bytes& data);

}  // namespace tessal::xml
