#include "facade/approved_sites.h"

#include "build_settings.h"

namespace tessal::facade {

namespace {

constexpr std::uint32_t kAllow = 0;

const ApprovedSiteRow kRows[] = {
    {kAllow, u"http", u"" TESSAL_ORG_DOMAIN_FIRST},
    {kAllow, u"http", u"" TESSAL_ORG_DOMAIN_SECOND},
    {kAllow, u"https", u"" TESSAL_ORG_DOMAIN_FIRST},
    {kAllow, u"https", u"" TESSAL_ORG_DOMAIN_SECOND},
};

bool endsWithDotted(std::u16string_view host, std::u16string_view name) {
    return host.size() > name.size() && host.substr(host.size() - name.size()) == name &&
           host[host.size() - name.size() - 1] == u'.';
}

bool rowMatches(const ApprovedSiteRow& row, std::u16string_view scheme, std::u16string_view host, std::uint32_t zone) {
    if (std::u16string_view(row.scheme) != scheme) return false;
    const std::u16string_view pattern(row.domain);
    if (pattern == kIntranetZoneMarker) return zone == 1 || zone == 2;
    if (pattern == kLocalMachineZoneMarker) return zone == 0;
    if (pattern == kTrustedZoneMarker) return zone == 2;
    if (pattern.empty()) return host.empty();
    return hostMatchesPattern(host, pattern);
}

}  // namespace

std::span<const ApprovedSiteRow> approvedSites() { return kRows; }

bool hostMatchesPattern(std::u16string_view host, std::u16string_view pattern) {
    if (pattern.starts_with(u"*.")) return endsWithDotted(host, pattern.substr(2));
    if (pattern.starts_with(u"=")) return host == pattern.substr(1);
    return host == pattern || endsWithDotted(host, pattern);
}

bool siteApproved(std::span<const ApprovedSiteRow> rows, std::u16string_view scheme, std::u16string_view host,
                  std::uint32_t zone) {
    for (const ApprovedSiteRow& row : rows) {
        if (rowMatches(row, scheme, host, zone)) return row.action == kAllow;
    }
    return false;
}

}  // namespace tessal::facade
