#pragma once
// p11-kit, opened the first time a PKCS#11 module is loaded rather than when
// the process starts: a verification never uses a token.
#include <p11-kit/p11-kit.h>

#include <optional>

namespace tessal::platform {

// The p11-kit entry points the module loader uses.
struct P11KitLibrary {
    decltype(&::p11_kit_module_load) moduleLoad;
    decltype(&::p11_kit_module_initialize) moduleInitialize;
    decltype(&::p11_kit_module_finalize) moduleFinalize;
    decltype(&::p11_kit_module_release) moduleRelease;
};

// The process's p11-kit, opened once (thread-safe); nothing when it cannot be
// opened or lacks an entry point.
const P11KitLibrary* p11KitLibrary();

// Opens the library file named soname and finds the entry points; nothing
// when either fails.
std::optional<P11KitLibrary> openP11KitLibrary(const char* soname);

}  // namespace tessal::platform
