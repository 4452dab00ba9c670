#include "platform/pcsc_library.h"

#include "platform/runtime_library.h"

namespace tessal::platform {

namespace {

constexpr const char* kPcscSoname = "libpcsclite.so.1";

}  // namespace

std::optional<PcscLibrary> openPcscLibrary(const char* soname) {
    return openRuntimeLibrary<PcscLibrary>(soname, [](const LibraryEntryPoints& library, PcscLibrary& table) {
        return library.find("SCardEstablishContext", table.establishContext) &&
               library.find("SCardReleaseContext", table.releaseContext) &&
               library.find("SCardIsValidContext", table.isValidContext) &&
               library.find("SCardListReaders", table.listReaders) &&
               library.find("SCardConnect", table.connect) &&
               library.find("SCardDisconnect", table.disconnect) &&
               library.find("SCardStatus", table.status) &&
               library.find("SCardGetAttrib", table.getAttrib) &&
               library.find("SCardGetStatusChange", table.getStatusChange) &&
               library.find("SCardCancel", table.cancel);
    });
}

const PcscLibrary* pcscLibrary() {
    static const std::optional<PcscLibrary> library = openPcscLibrary(kPcscSoname);
    return library ? &*library : nullptr;
}

}  // namespace tessal::platform
