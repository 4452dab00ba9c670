#pragma once
// Interface identifiers the object answers for, and the hosting services a
// host hands to it: the page it is shown in, repaints, and a user interface.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessal {

struct Guid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
    bool operator==(const Guid&) const = default;
};

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional).
std::optional<Guid> parseGuid(std::string_view text);

namespace iid {
inline constexpr Guid IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr Guid IDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr Guid IObjectSafety{0xCB5BDC81, 0x93C1, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};
inline constexpr Guid ISiteLock{0x7FEB54AE, 0xE3F9, 0x40FC, {0xAB, 0x5A, 0x28, 0xA5, 0x45, 0xC0, 0xF1, 0x94}};
inline constexpr Guid ISign{0x5C1A7E20, 0x6B3D, 0x4F0E, {0x9A, 0x41, 0x2E, 0x7D, 0x11, 0xC4, 0x80, 0x5B}};
}  // namespace iid

// The address of the page that hosts the object and its security zone
// (0 local machine, 1 intranet, 2 trusted, 3 internet, 4 restricted).
struct PageLocation {
    std::u16string address;
    std::uint32_t zone = 3;
};

// What a host with a user interface offers the object.
// The signature-information summary, rendered for a host without the
// window: indented text lines and a JSON array of rows.
struct SignatureSummary {
    std::string text;
    std::string json;
};

class UiSurface {
public:
    virtual ~UiSurface() = default;
    // Shows the summary of the last signing or verification; returns when the
    // user is done with it.
    virtual void showSignatureSummary(const SignatureSummary& summary) { (void)summary; }
    // Asks the user where to save; nothing when the user cancels.
    virtual std::optional<std::u16string> chooseSaveFileName(std::u16string_view title,
                                                            std::u16string_view filterName,
                                                            std::u16string_view filterPattern) = 0;
};

// The object's link to its host. A desktop program's host has no page.
class HostSite {
public:
    virtual ~HostSite() = default;
    virtual std::optional<PageLocation> page() const { return std::nullopt; }
    // The object's face changed and should be drawn again.
    virtual void requestRepaint() {}
    virtual UiSurface* ui() { return nullptr; }
};

// One row of the approved-site list that a browser can query.
struct ApprovedSiteRow {
    std::uint32_t action;  // 0 allows, anything else denies
    const char16_t* scheme;
    const char16_t* domain;
};

}  // namespace tessal
