#include "display/summary_rows.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "platform/clock.h"

namespace tessal::display {

namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kEpochDifference = 11644473600;
constexpr std::uint64_t kTicksPerSecond = 10000000;

// The template with its first "%s" replaced by `argument`, as plain text.
std::u16string fill(std::u16string_view pattern, std::u16string_view argument) {
    std::u16string out(pattern);
    if (const std::size_t at = out.find(u"%s"); at != std::u16string::npos) out.replace(at, 2, argument);
    return out;
}

// A heading that names the time when there is one.
std::u16string heading(std::u16string_view withTime, std::u16string_view without, std::uint64_t time) {
    return time != 0 ? fill(withTime, shownTime(time)) : std::u16string(without);
}

SummaryRow textRow(int x, std::u16string text) {
    SummaryRow row;
    row.kind = RowKind::Text;
    row.x = x;
    row.text = std::move(text);
    return row;
}

SummaryRow labelValueRow(std::u16string_view label, std::u16string value) {
    SummaryRow row;
    row.kind = RowKind::LabelValue;
    row.x = kLabelX;
    row.label = std::u16string(label);
    row.value = std::move(value);
    return row;
}

SummaryRow separatorRow(int x) {
    SummaryRow row;
    row.kind = RowKind::Separator;
    row.x = x;
    return row;
}

SummaryRow verdictRow(int x, bool good, std::u16string_view text) {
    SummaryRow row;
    row.kind = RowKind::Verdict;
    row.x = x;
    row.good = good;
    row.text = std::u16string(text);
    return row;
}

// The certificate button always; the CRL button only when there is a CRL to view.
SummaryRow buttonsRow(const trust::CertificateContext& context, int certificateTarget, int crlTarget) {
    SummaryRow row;
    row.kind = RowKind::Buttons;
    row.certificateTarget = certificateTarget;
    row.certificateCaption = std::u16string(texts::kCertificateButton);
    if (context.revocationList.hasCrl()) {
        row.crlTarget = crlTarget;
        row.crlCaption = std::u16string(texts::kCrlButton);
    }
    return row;
}

bool holdsError(const diag::ErrorRecord& record) { return record.lastError != 0 || record.code != 0; }

bool namesSubject(const trust::CertificateContext& context) {
    return context.subject.hasCertificate() && !context.subject.subject().empty();
}

// Heading, subject name, buttons and separator of one certificate holder.
void appendHolder(std::vector<SummaryRow>& rows, std::u16string headingText, const trust::CertificateContext& context,
                  int certificateTarget, int crlTarget, int gapBefore) {
    SummaryRow first = textRow(10, std::move(headingText));
    first.gapBefore = gapBefore;
    rows.push_back(std::move(first));
    rows.push_back(textRow(20, context.subject.subject().utf16()));
    rows.push_back(buttonsRow(context, certificateTarget, crlTarget));
    rows.push_back(separatorRow(10));
}

void appendDocument(std::vector<SummaryRow>& rows, const xml::MessageHeader& header) {
    // A document without an envelope identifier is free-form, whatever other header fields it has.
    if (header.MsgId.empty()) {
        rows.push_back(textRow(4, std::u16string(texts::kFreeFormDocument)));
        rows.push_back(separatorRow(10));
        return;
    }
    rows.push_back(textRow(4, header.System.empty() ? std::u16string(texts::kDocument)
                                                    : fill(texts::kSystemDocument, header.System.utf16())));
    rows.push_back(labelValueRow(texts::kIdentifierLabel, header.MsgId.utf16()));
    if (!header.Sender.empty()) rows.push_back(labelValueRow(texts::kSenderLabel, header.Sender.utf16()));
    if (!header.Receiver.empty()) rows.push_back(labelValueRow(texts::kReceiverLabel, header.Receiver.utf16()));
    if (!header.Type.empty()) rows.push_back(labelValueRow(texts::kTypeLabel, header.Type.utf16()));
    if (!header.Date.empty()) {
        // An ISO date-time reads better with a space between date and time.
        std::u16string date = header.Date.utf16();
        for (char16_t& c : date) {
            if (c == u'T') c = u' ';
        }
        rows.push_back(labelValueRow(texts::kDateLabel, std::move(date)));
    }
    rows.push_back(separatorRow(10));
}

void appendTimeStamps(std::vector<SummaryRow>& rows, const xml::SignatureInfo& info) {
    constexpr int kBlockGap = 2;
    if (namesSubject(info.timeStampAuthority)) {
        appendHolder(rows, heading(texts::kTimeStampedAt, texts::kTimeStamped, info.timeStampTime),
                     info.timeStampAuthority, targets::kAuthorityCertificate, targets::kAuthorityCrl, kBlockGap);
    }
    // A record without a named authority still uses up its place, so the
    // targets of the ones after it keep their list position.
    const std::size_t shown = std::min(info.archiveTimeStamps.size(), kShownArchiveTimeStamps);
    for (std::size_t k = 0; k < shown; ++k) {
        const xml::TimeStampRecord& record = info.archiveTimeStamps[k];
        if (!namesSubject(record.authority)) continue;
        const int index = static_cast<int>(k);
        appendHolder(rows, heading(texts::kArchivedAt, texts::kArchived, record.generationTime), record.authority,
                     targets::kArchiveCertificate + index, targets::kArchiveCrl + index, kBlockGap);
    }
}

void appendVerdicts(std::vector<SummaryRow>& rows, const xml::SignatureInfo& info) {
    const bool timeStamped = info.timeStampPresent != 0 && info.timeStampTime != 0;
    const trust::CertificateContext& signer = info.signer;

    if (holdsError(info.error)) {
        rows.push_back(verdictRow(10, false, texts::kSignatureInvalid));
    } else {
        rows.push_back(verdictRow(10, true, texts::kSignatureValid));
    }
    if (info.contentChanged != 0) {
        rows.push_back(verdictRow(20, false, texts::kContentChanged));
    } else {
        rows.push_back(verdictRow(20, true, texts::kContentUnchanged));
    }
    if (signer.subject.hasCertificate()) {
        if (signer.subject.holdsError()) {
            rows.push_back(
                verdictRow(20, false, timeStamped ? texts::kCertificateWasInvalid : texts::kCertificateInvalid));
        } else {
            rows.push_back(verdictRow(20, true, timeStamped ? texts::kCertificateWasValid : texts::kCertificateValid));
        }
    }
    // A CRL lookup that failed (no CRL of the issuer, or one that lists the
    // signer) leaves its reason in the CRL record, with or without a CRL.
    if (signer.revocationList.hasCrl() || signer.revocationList.holdsError()) {
        // Any CRL error counts against the certificate: revocation could not be ruled out.
        if (signer.revocationList.holdsError()) {
            rows.push_back(verdictRow(20, false, texts::kCertificateRevoked));
        } else {
            rows.push_back(
                verdictRow(20, true, timeStamped ? texts::kCertificateWasNotRevoked : texts::kCertificateNotRevoked));
        }
    }
    if (!signer.chain.empty()) {
        // The chain is trusted only when it reaches a self-signed root.
        if (signer.chain.back().selfSigned() != 0) {
            rows.push_back(verdictRow(20, true, texts::kChainTrusted));
        } else {
            rows.push_back(verdictRow(20, false, texts::kChainBroken));
        }
    }
    rows.push_back(separatorRow(4));
}

}  // namespace

std::u16string shownTime(std::uint64_t filetime) {
    if (filetime == 0) return {};
    const auto seconds = static_cast<std::int64_t>(filetime / kTicksPerSecond) - kEpochDifference;
    const auto nanoseconds = static_cast<std::uint32_t>((filetime % kTicksPerSecond) * 100);
    const std::optional<platform::LocalTime> local = platform::localTimeOf(seconds, nanoseconds);
    if (!local) return {};
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", local->year, local->month,
                                     local->day, local->hour, local->minute, local->second);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof text) return {};
    return std::u16string(text, text + length);
}

std::vector<SummaryRow> summaryRows(const xml::SignatureInfo& info) {
    std::vector<SummaryRow> rows;
    appendDocument(rows, info.messageHeader);

    if (namesSubject(info.signer)) {
        appendHolder(rows, heading(texts::kSignedAt, texts::kSigned, info.signingTime), info.signer,
                     targets::kSignerCertificate, targets::kSignerCrl, 0);
    }
    if (info.timeStampPresent != 0) appendTimeStamps(rows, info);
    if (info.signaturePresent != 0) appendVerdicts(rows, info);

    if (holdsError(info.error)) {
        SummaryRow error;
        error.kind = RowKind::Error;
        error.x = kErrorIconX;
        error.text = info.error.text.utf16();
        rows.push_back(std::move(error));
        rows.push_back(separatorRow(4));
    }

    SummaryRow close;
    close.kind = RowKind::Close;
    close.text = std::u16string(texts::kCloseButton);
    rows.push_back(std::move(close));
    return rows;
}

}  // namespace tessal::display
