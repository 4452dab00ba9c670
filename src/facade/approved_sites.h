#pragma once
// The approved sites: the organisation's domains over http and https, tried in
// order; the first row that matches the page decides.
#include <cstdint>
#include <span>
#include <string_view>

#include "tessal/interfaces.h"

namespace tessal::facade {

// Zone markers a row may hold instead of a host pattern.
inline constexpr std::u16string_view kIntranetZoneMarker = u"(intranet)";
inline constexpr std::u16string_view kLocalMachineZoneMarker = u"(local)";
inline constexpr std::u16string_view kTrustedZoneMarker = u"(trusted)";

std::span<const ApprovedSiteRow> approvedSites();

// A plain name matches itself and its subdomains, "*.name" only strict
// subdomains, "=name" only itself; matching is case-sensitive.
bool hostMatchesPattern(std::u16string_view host, std::u16string_view pattern);

// The verdict of the first matching row: true when it allows; false when it
// denies or no row matches.
bool siteApproved(std::span<const ApprovedSiteRow> rows, std::u16string_view scheme, std::u16string_view host,
                  std::uint32_t zone);

}  // namespace tessal::facade
