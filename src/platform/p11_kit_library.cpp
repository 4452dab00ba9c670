#include "platform/p11_kit_library.h"

#include "platform/runtime_library.h"

namespace tessal::platform {

namespace {

constexpr const char* kP11KitSoname = "libp11-kit.so.0";

}  // namespace

std::optional<P11KitLibrary> openP11KitLibrary(const char* soname) {
    return openRuntimeLibrary<P11KitLibrary>(soname, [](const LibraryEntryPoints& library, P11KitLibrary& table) {
        return library.find("p11_kit_module_load", table.moduleLoad) &&
               library.find("p11_kit_module_initialize", table.moduleInitialize) &&
               library.find("p11_kit_module_finalize", table.moduleFinalize) &&
               library.find("p11_kit_module_release", table.moduleRelease);
    });
}

const P11KitLibrary* p11KitLibrary() {
    static const std::optional<P11KitLibrary> library = openP11KitLibrary(kP11KitSoname);
    return library ? &*library : nullptr;
}

}  // namespace tessal::platform
