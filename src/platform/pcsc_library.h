#pragma once
// pcsc-lite, opened the first time a smart-card context is asked for rather
// than when the process starts: a verification never talks to a card reader.
#include <winscard.h>

#include <optional>

namespace tessal::platform {

// The pcsc-lite entry points the card contexts use.
struct PcscLibrary {
    decltype(&::SCardEstablishContext) establishContext;
    decltype(&::SCardReleaseContext) releaseContext;
    decltype(&::SCardIsValidContext) isValidContext;
    decltype(&::SCardListReaders) listReaders;
    decltype(&::SCardConnect) connect;
    decltype(&::SCardDisconnect) disconnect;
    decltype(&::SCardStatus) status;
    decltype(&::SCardGetAttrib) getAttrib;
    decltype(&::SCardGetStatusChange) getStatusChange;
    decltype(&::SCardCancel) cancel;
};

// The process's pcsc-lite, opened once (thread-safe); nothing when it cannot
// be opened or lacks an entry point.
const PcscLibrary* pcscLibrary();

// Opens the library file named soname and finds the entry points; nothing
// when either fails.
std::optional<PcscLibrary> openPcscLibrary(const char* soname);

}  // namespace tessal::platform
