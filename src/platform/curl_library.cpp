#include "platform/curl_library.h"

#include <dlfcn.h>

namespace tessal::platform {

namespace {

constexpr const char* kCurlSoname = "libcurl.so.4";

template <typename Function>
bool findSymbol(void* library, const char* name, Function& target) {
    void* symbol = dlsym(library, name);
    if (!symbol) return false;
    target = reinterpret_cast<Function>(symbol);
    return true;
}

}  // namespace

std::optional<CurlLibrary> openCurlLibrary(const char* soname) {
    // Never closed: handles and callbacks of the library may outlive any owner here.
    void* library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!library) return std::nullopt;
    CurlLibrary curl{};
    CURLcode (*globalInit)(long) = nullptr;
    const bool complete = findSymbol(library, "curl_global_init", globalInit) &&
                          findSymbol(library, "curl_easy_init", curl.easyInit) &&
                          findSymbol(library, "curl_easy_cleanup", curl.easyCleanup) &&
                          findSymbol(library, "curl_easy_setopt", curl.easySetopt) &&
                          findSymbol(library, "curl_easy_getinfo", curl.easyGetinfo) &&
                          findSymbol(library, "curl_easy_perform", curl.easyPerform) &&
                          findSymbol(library, "curl_slist_append", curl.slistAppend) &&
                          findSymbol(library, "curl_slist_free_all", curl.slistFreeAll);
    if (!complete) {
        dlclose(library);
        return std::nullopt;
    }
    if (globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) return std::nullopt;
    return curl;
}

const CurlLibrary* curlLibrary() {
    static const std::optional<CurlLibrary> library = openCurlLibrary(kCurlSoname);
    return library ? &*library : nullptr;
}

}  // namespace tessal::platform
