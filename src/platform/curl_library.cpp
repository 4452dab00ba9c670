#include "platform/curl_library.h"

#include "platform/runtime_library.h"

namespace tessal::platform {

namespace {

constexpr const char* kCurlSoname = "libcurl.so.4";

}  // namespace

std::optional<CurlLibrary> openCurlLibrary(const char* soname) {
    CURLcode (*globalInit)(long) = nullptr;
    std::optional<CurlLibrary> curl =
        openRuntimeLibrary<CurlLibrary>(soname, [&](const LibraryEntryPoints& library, CurlLibrary& table) {
            return library.find("curl_global_init", globalInit) &&
                   library.find("curl_easy_init", table.easyInit) &&
                   library.find("curl_easy_cleanup", table.easyCleanup) &&
                   library.find("curl_easy_setopt", table.easySetopt) &&
                   library.find("curl_easy_getinfo", table.easyGetinfo) &&
                   library.find("curl_easy_perform", table.easyPerform) &&
                   library.find("curl_slist_append", table.slistAppend) &&
                   library.find("curl_slist_free_all", table.slistFreeAll);
        });
    if (!curl || globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) return std::nullopt;
    return curl;
}

const CurlLibrary* curlLibrary() {
    static const std::optional<CurlLibrary> library = openCurlLibrary(kCurlSoname);
    return library ? &*library : nullptr;
}

}  // namespace tessal::platform
