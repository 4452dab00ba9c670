// The safety interfaces a browser calls on the object before it lets a page
// script it, and the site-lock extension that publishes the approved sites.
#include "diagnostics/log_file.h"
#include "facade/approved_sites.h"
#include "facade/environment_check.h"
#include "facade/sign_state.h"
#include "tessal/sign.h"

namespace tessal {

namespace {
constexpr std::uint32_t kSafeForUntrustedCaller = 1;
}

bool Sign::supportsInterface(const Guid& iid) const {
    return iid == iid::IUnknown || iid == iid::IDispatch || iid == iid::ISign || iid == iid::IObjectSafety ||
           iid == iid::ISiteLock;
}

HResult Sign::getInterfaceSafetyOptions(const Guid& iid, std::uint32_t* supported, std::uint32_t* enabled) {
    if (!supported || !enabled) return hr::E_POINTER;
    if (!supportsInterface(iid)) {
        *supported = 0;
        *enabled = 0;
        return hr::E_NOINTERFACE;
    }
    const bool allowed = facade::runEnvironmentCheck(*state_);
    *supported = kSafeForUntrustedCaller;
    *enabled = allowed ? state_->safetyOptions : 0;
    return hr::S_OK;
}

HResult Sign::setInterfaceSafetyOptions(const Guid& iid, std::uint32_t optionMask, std::uint32_t enabledOptions) {
    diag::traceGlobal(u"Tessal objekto kūrimas (IObjectSafety::SetInterfaceSafetyOptions)");
    if (!supportsInterface(iid)) {
        diag::traceGlobal(u"Tessal objekto kūrimas (IObjectSafety::SetInterfaceSafetyOptions : NO IUnknown)");
        return hr::E_NOINTERFACE;
    }
    if (optionMask & ~kSafeForUntrustedCaller) {
        diag::traceGlobal(u"Tessal objekto kūrimas (IObjectSafety::SetInterfaceSafetyOptions : NO OPTION : %d)",
                          {optionMask});
        return hr::E_FAIL;
    }
    if (!facade::runEnvironmentCheck(*state_)) return hr::E_FAIL;
    state_->safetyOptions = (state_->safetyOptions & ~optionMask) | (optionMask & enabledOptions);
    return hr::S_OK;
}

HResult Sign::siteLockCapability(std::uint32_t* questionAndAnswer) {
    if (!questionAndAnswer) return hr::E_POINTER;
    switch (*questionAndAnswer) {
        case 0: *questionAndAnswer = 0x10004; return hr::S_OK;
        case 1: *questionAndAnswer = 2; return hr::S_OK;
        default: *questionAndAnswer = 0; return hr::E_NOTIMPL;
    }
}

HResult Sign::siteLockApprovedSites(const ApprovedSiteRow** rows, std::uint32_t* count) {
    if (!rows || !count) return hr::E_POINTER;
    const auto sites = facade::approvedSites();
    *rows = sites.data();
    *count = static_cast<std::uint32_t>(sites.size());
    return hr::S_OK;
}

}  // namespace tessal
