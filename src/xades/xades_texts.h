#pragma once
// Texts and small text tests shared by the signature checks.
#include <string>
#include <string_view>

namespace tessal::xml {

// The first argument of the messages about missing signature parts.
inline constexpr std::string_view kConformanceText =
    "XML elektroninis parašas neatitinka \"XML Advanced Electronic Signatures (ETSI TS 101 903)\" specifikacijos";
// Refusals of external data other than certificates and CRLs: time-stamp
// data, and (one letter differs, as the peers know it) qualifying-property
// references.
inline constexpr std::string_view kExternalDataText =
    "Išorinėmis nuorodomis galima perduoti tik sertifikatų ir sertifikatų atšaukimo bylų duomenis";
inline constexpr std::string_view kExternalPropertiesText =
    "Išorimėmis nuorodomis galima perduoti tik sertifikatų ir sertifikatų atšaukimo bylų duomenis";

// Space, tab, CR and LF removed at both ends.
std::string_view trimmedSpace(std::string_view text);
// ASCII letter case ignored.
bool equalsIgnoringCase(std::string_view a, std::string_view b);
bool containsIgnoringCase(std::string_view text, std::string_view part);

// What a reference URI names outside the document.
enum class ExternalKind { Certificate, Trust, Crl, Other };
// "/cert/" first, then "/trust/", then "/crl/", letter case ignored.
ExternalKind externalKindOf(std::string_view uri);

}  // namespace tessal::xml
