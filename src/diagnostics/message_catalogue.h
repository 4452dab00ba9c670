#pragma once
// The numbered Lithuanian message formats and the category texts that fill the
// first %s of the formats about platform calls.
#include <string_view>

namespace tessal::diag {

inline constexpr int kCatalogueSize = 99;

inline constexpr std::u16string_view kCategoryCrypto = u"Kriptografinių funkcijų paketo klaida";
inline constexpr std::u16string_view kCategoryInternet = u"Interneto funkcijų paketo klaida";
inline constexpr std::u16string_view kCategoryCardReader = u"Kortelių skaitytuvo funkcijų paketo klaida";
inline constexpr std::u16string_view kCategoryBase64 = u"BASE64 kodavimo funkcijų klaida";

// The text that stands for every index outside the catalogue.
inline constexpr std::u16string_view kUnknownCryptoFailure = u"Nenumatyta kriptografinių funkcijų paketo klaida";

// The format of `index`; indexes outside 0..98 give kUnknownCryptoFailure.
std::u16string_view catalogueFormat(int index);

}  // namespace tessal::diag
