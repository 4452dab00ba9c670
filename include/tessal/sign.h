#pragma once
// The signing component: one Sign object per caller, with the eighteen members
// of its automation interface, the safety interfaces a browser calls, and a
// dispatcher that invokes members by name or DISPID.
//
// Every member returns S_OK, or DISP_E_EXCEPTION with the thread's error
// information (source "Tessal.Sign.1", description the Lithuanian message).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tessal/error_info.h"
#include "tessal/face.h"
#include "tessal/hresult.h"
#include "tessal/interfaces.h"
#include "tessal/variant.h"

namespace tessal {

namespace facade {
struct SignState;
}

// An argument of a dispatched call; an empty optional is an optional
// argument left out, whose default applies.
using Argument = std::optional<Variant>;

inline constexpr std::u16string_view kProgId = u"Tessal.Sign.1";

class Sign {
public:
    Sign();
    explicit Sign(std::shared_ptr<HostSite> site);
    ~Sign();
    Sign(const Sign&) = delete;
    Sign& operator=(const Sign&) = delete;

    // DISPID 1 to 18.
    HResult syncTime(std::u16string_view url, std::u16string& time);
    HResult readNextFileXml(std::u16string_view directory, std::u16string& xml);
    HResult getProcessedFileName(std::u16string& fileName);
    HResult moveProcessedFile(std::u16string_view destinationDirectory);
    HResult saveFileXml(std::u16string_view fileName, Variant* xml);
    HResult signXml(Variant* xml, std::int32_t raw, std::u16string_view logFile, Variant& signedXml);
    HResult verifyXmlSign(Variant* xml, std::u16string& certId);
    HResult reset();
    HResult readFile(std::u16string_view fileName, std::u16string& contents);
    HResult info();
    HResult writeLog(std::u16string_view path, std::u16string_view text);
    HResult writeEventLog(std::u16string_view text, std::uint32_t severity);
    HResult convert(Variant* in, std::u16string_view type, Variant& out);
    HResult compress(Variant* in, std::u16string_view method, Variant& compressed);
    HResult getFileTime(std::u16string_view fileName, std::u16string& fileTime);
    // Registers the callback called when the signer's card leaves its reader,
    // replacing any earlier one; a null reference is refused and leaves none.
    // The callback's invokeDefault runs on the card monitor's thread (not the
    // caller's), at most once per key selection, while a process-wide lock
    // is held. It must return promptly, and must neither register a callback
    // nor destroy a Sign object, nor wait for another thread that does:
    // both take that lock. A program with a single-threaded user interface
    // posts itself a message from the callback and acts on it there.
    HResult putOnCardRemoved(std::shared_ptr<Dispatch> callback);
    HResult putKeyContainer(std::u16string_view name);
    HResult putPkiDomain(std::u16string_view domains);

    // The safety interface a browser calls before it scripts the object.
    HResult getInterfaceSafetyOptions(const Guid& iid, std::uint32_t* supported, std::uint32_t* enabled);
    HResult setInterfaceSafetyOptions(const Guid& iid, std::uint32_t optionMask, std::uint32_t enabledOptions);
    // The site-lock extension: capability query and approved-site list.
    HResult siteLockCapability(std::uint32_t* questionAndAnswer);
    HResult siteLockApprovedSites(const ApprovedSiteRow** rows, std::uint32_t* count);
    bool supportsInterface(const Guid& iid) const;

    // What the control draws within `bounds` when its host asks it to: the
    // face of the last signing or verification run; nothing when that run
    // left no signature value (or after reset).
    std::optional<ControlFace> face(const FaceRectangle& bounds) const;

    // Invokes a member with its arguments in declaration order; a property
    // put takes its value as the one argument. Arguments are coerced to the
    // declared kinds; VARIANT* arguments are passed as they are and may be
    // changed in place.
    HResult invoke(std::string_view member, std::vector<Argument>& args, Variant& result);
    HResult invoke(std::int32_t dispid, std::vector<Argument>& args, Variant& result);

private:
    std::unique_ptr<facade::SignState> state_;
};

}  // namespace tessal
