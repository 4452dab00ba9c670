#pragma once
// libcurl, opened the first time a request is made rather than when the
// process starts: a verification served from the local cache never makes a
// request, and the library with everything it depends on costs memory and
// start-up time in every process that maps it.
#include <curl/curl.h>

#include <optional>

namespace tessal::platform {

// The libcurl entry points the transport uses.
struct CurlLibrary {
    CURL* (*easyInit)();
    void (*easyCleanup)(CURL*);
    CURLcode (*easySetopt)(CURL*, CURLoption, ...);
    CURLcode (*easyGetinfo)(CURL*, CURLINFO, ...);
    CURLcode (*easyPerform)(CURL*);
    curl_slist* (*slistAppend)(curl_slist*, const char*);
    void (*slistFreeAll)(curl_slist*);
};

// The process's libcurl, opened and globally initialised once (thread-safe);
// nothing when it cannot be opened, lacks an entry point or fails to start.
const CurlLibrary* curlLibrary();

// Opens the library file named soname and finds the entry points; nothing
// when either fails. The library stays loaded for the life of the process.
std::optional<CurlLibrary> openCurlLibrary(const char* soname);

}  // namespace tessal::platform
