#pragma once
// What the signature-information window says about the last signing or
// verification run, as an ordered list of rows with their indentation in
// dialog units. Computed without any window toolkit, so hosts without one
// can render the same content as text or JSON.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "xades/signature_info.h"

namespace tessal::display {

// The window's fixed texts. "%s" marks where a name or a time goes; it is
// replaced as plain text, never used as a format string.
namespace texts {
inline constexpr std::u16string_view kSystemDocument = u"Pasirašytas sistemos \"%s\" dokumentas:";
inline constexpr std::u16string_view kDocument = u"Pasirašytas dokumentas:";
inline constexpr std::u16string_view kIdentifierLabel = u"- identifikatorius";
inline constexpr std::u16string_view kSenderLabel = u"- siuntėjas";
inline constexpr std::u16string_view kReceiverLabel = u"- gavėjas";
inline constexpr std::u16string_view kTypeLabel = u"- dokumento tipas";
inline constexpr std::u16string_view kDateLabel = u"- sukūrimo data";
inline constexpr std::u16string_view kFreeFormDocument = u"Laisvos formos dokumentas";

inline constexpr std::u16string_view kSignedAt = u"Dokumentą %s pasirašė:";
inline constexpr std::u16string_view kSigned = u"Dokumentą pasirašė:";
inline constexpr std::u16string_view kTimeStampedAt = u"Laiko žymą %s suformavo:";
inline constexpr std::u16string_view kTimeStamped = u"Laiko žymą suformavo:";
inline constexpr std::u16string_view kArchivedAt = u"Archyvavimo laiko žymą %s suformavo:";
inline constexpr std::u16string_view kArchived = u"Archyvavimo laiko žymą suformavo:";

inline constexpr std::u16string_view kCertificateButton = u"Sertifikato duomenys";
inline constexpr std::u16string_view kCrlButton = u"Atšauktų sertifikatų sąrašas (CRL)";
inline constexpr std::u16string_view kCloseButton = u"Uždaryti";

inline constexpr std::u16string_view kSignatureInvalid = u"Skaitmeninis parašas negalioja";
inline constexpr std::u16string_view kSignatureValid = u"Skaitmeninis parašas galioja";
inline constexpr std::u16string_view kContentChanged = u"Pakeistas pasirašyto dokumento turinys";
inline constexpr std::u16string_view kContentUnchanged = u"Pasirašyto dokumento turinys nepakeistas";
inline constexpr std::u16string_view kCertificateWasInvalid =
    u"Pasirašiusio asmens sertifikatas negaliojo laiko žymos formavimo metu";
inline constexpr std::u16string_view kCertificateInvalid = u"Pasirašiusio asmens sertifikatas negalioja";
inline constexpr std::u16string_view kCertificateWasValid =
    u"Pasirašiusio asmens sertifikatas galiojo laiko žymos formavimo metu";
inline constexpr std::u16string_view kCertificateValid = u"Pasirašiusio asmens sertifikatas galioja";
inline constexpr std::u16string_view kCertificateRevoked = u"Pasirašiusio asmens sertifikatas atšauktas";
inline constexpr std::u16string_view kCertificateWasNotRevoked =
    u"Pasirašiusio asmens sertifikatas nebuvo atšauktas laiko žymos formavimo metu";
inline constexpr std::u16string_view kCertificateNotRevoked = u"Pasirašiusio asmens sertifikatas neatšauktas";
inline constexpr std::u16string_view kChainTrusted =
    u"Pasirašiusio asmens sertifikatą išdavė pasitikėtina organizacija";
inline constexpr std::u16string_view kChainBroken =
    u"Klaida formuojant asmens sertifikatą pasirašiusių organizacijų sertifikatų pasitikėjimo grandinę";
}  // namespace texts

// Viewer targets of the buttons; the window opens the object a target names.
namespace targets {
inline constexpr int kClose = 1;
inline constexpr int kSignerCertificate = 101;
inline constexpr int kAuthorityCertificate = 102;
inline constexpr int kSignerCrl = 103;
inline constexpr int kAuthorityCrl = 104;
inline constexpr int kArchiveCertificate = 110;  // + k
inline constexpr int kArchiveCrl = 120;          // + k
}  // namespace targets

// Only this many archive time-stamps are shown; they have targets 110..116 and 120..126.
inline constexpr std::size_t kShownArchiveTimeStamps = 7;

// Indentations, in dialog units.
inline constexpr int kLabelX = 10;
inline constexpr int kValueX = 96;
inline constexpr int kMarkTextOffset = 10;
inline constexpr int kErrorIconX = 4;
inline constexpr int kErrorTextX = 30;

enum class RowKind { Text, LabelValue, Buttons, Separator, Verdict, Error, Close };

struct SummaryRow {
    RowKind kind = RowKind::Text;
    // Text, separator and verdict mark position; the label's for LabelValue
    // (value at kValueX), the icon's for Error (text at kErrorTextX). Buttons
    // are right-aligned by the window and carry 0.
    int x = 0;
    std::u16string text;  // Text, Verdict, Error, and the caption of Close
    std::u16string label;
    std::u16string value;
    bool good = false;  // Verdict
    // Buttons: the viewer targets; crlTarget is 0 when no CRL is present,
    // and then the row has no CRL button.
    int certificateTarget = 0;
    int crlTarget = 0;
    std::u16string certificateCaption;
    std::u16string crlCaption;  // empty without a CRL button
    // Extra space above the row in dialog units: the time-stamp blocks start
    // a little apart from the block before them.
    int gapBefore = 0;

    bool operator==(const SummaryRow&) const = default;
};

// The rows for one showing: document, signer, time-stamps, verdicts, error
// and the close button. `info` is only read.
std::vector<SummaryRow> summaryRows(const xml::SignatureInfo& info);

// A FILETIME-like moment as local time "YYYY-MM-DD hh:mm:ss"; empty for 0
// and when the moment cannot be converted.
std::u16string shownTime(std::uint64_t filetime);

}  // namespace tessal::display
