#include "register_command.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>

#include <nlohmann/json.hpp>

#include "browser_identity.h"
#include "platform/file_system.h"

namespace tessal::cli {

const char* const kRegisterHelp =
    "usage: tessal register [--user | --system] [--browser chromium|chrome|firefox|all]\n"
    "                       [--manifest-dir DIR] [--host PATH]\n"
    "       tessal unregister [--user | --system] [--browser ...] [--manifest-dir DIR]\n"
    "\n"
    "register writes the native-messaging manifest " TESSAL_NATIVE_HOST_NAME ".json that lets\n"
    "the browser extension start tessal-host; unregister removes it again, and\n"
    "only a manifest that names this host and a tessal-host program.\n"
    "\n"
    "  --user            the current user's browser folders (the default)\n"
    "  --system          the system-wide folders (needs root)\n"
    "  --browser NAME    chromium, chrome, firefox or all (the default)\n"
    "  --manifest-dir DIR  this folder instead, for one named browser\n"
    "  --host PATH       the host program to name (default: tessal-host beside\n"
    "                    this command, else the installed one)\n"
    "\n"
    "Each manifest gives one line: written, unchanged, removed, absent, or kept\n"
    "(a file of that name that is not ours). Both commands may be run again.\n"
    "Exit status: 0 on success, 1 when a file could not be written or removed,\n"
    "2 for a usage error.\n";

namespace {

constexpr const char* kHostProgramName = "tessal-host";
// Manifests are a few hundred bytes; anything far larger is not one of ours.
constexpr std::uintmax_t kLargestManifest = 64 * 1024;

enum class Browser { Chromium, Chrome, Firefox };
constexpr Browser kAllBrowsers[] = {Browser::Chromium, Browser::Chrome, Browser::Firefox};

struct Options {
    bool system = false;
    std::optional<Browser> browser;  // absent: every browser
    std::string manifestDir;
    std::string hostPath;
};

struct Place {
    Browser browser;
    std::string directory;
};

std::optional<Browser> browserNamed(const std::string& name) {
    if (name == "chromium") return Browser::Chromium;
    if (name == "chrome") return Browser::Chrome;
    if (name == "firefox") return Browser::Firefox;
    return std::nullopt;
}

int usageError(const std::string& command, const std::string& why) {
    std::cerr << "tessal " << command << ": " << why << " (see 'tessal " << command << " --help')\n";
    return 2;
}

// Answers the exit status for --help and usage errors, nothing when the
// options are sound.
std::optional<int> parseOptions(const std::string& command, const std::vector<std::string>& args,
                                bool acceptsHost, Options& out) {
    bool user = false;
    bool allBrowsers = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool takesValue = a == "--browser" || a == "--manifest-dir" || (acceptsHost && a == "--host");
        if (takesValue && i + 1 >= args.size()) return usageError(command, a + " needs a value");
        if (a == "--help" || a == "-h") {
            std::cout << kRegisterHelp;
            return 0;
        } else if (a == "--user") {
            user = true;
        } else if (a == "--system") {
            out.system = true;
        } else if (a == "--browser") {
            const std::string& name = args[++i];
            if (name == "all") {
                allBrowsers = true;
                out.browser.reset();
            } else if (std::optional<Browser> b = browserNamed(name)) {
                allBrowsers = false;
                out.browser = b;
            } else {
                return usageError(command, "unknown browser '" + name + "'");
            }
        } else if (a == "--manifest-dir") {
            out.manifestDir = args[++i];
            if (out.manifestDir.empty()) return usageError(command, "--manifest-dir needs a folder");
        } else if (takesValue) {
            out.hostPath = args[++i];
            if (out.hostPath.empty()) return usageError(command, "--host needs a path");
        } else {
            return usageError(command, "unexpected argument '" + a + "'");
        }
    }
    if (user && out.system) return usageError(command, "--user and --system exclude each other");
    // Chromium and Firefox manifests share a file name but differ in content:
    // one folder holds the manifest of one browser.
    if (!out.manifestDir.empty() && (allBrowsers || !out.browser)) {
        return usageError(command, "--manifest-dir needs --browser chromium, chrome or firefox");
    }
    return std::nullopt;
}

std::optional<std::string> homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return std::string(home);
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') {
        return std::string(pw->pw_dir);
    }
    return std::nullopt;
}

// Chromium and Chrome keep their per-user folders under the XDG configuration
// folder; Firefox looks in ~/.mozilla whatever XDG says.
std::optional<std::string> configDirectory() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') return std::string(xdg);
    if (std::optional<std::string> home = homeDirectory()) return *home + "/.config";
    return std::nullopt;
}

std::optional<std::string> manifestDirectory(Browser browser, bool system) {
    if (system) {
        switch (browser) {
        case Browser::Chromium: return std::string("/etc/chromium/native-messaging-hosts");
        case Browser::Chrome: return std::string("/etc/opt/chrome/native-messaging-hosts");
        case Browser::Firefox: return std::string("/usr/lib/mozilla/native-messaging-hosts");
        }
    }
    if (browser == Browser::Firefox) {
        std::optional<std::string> home = homeDirectory();
        return home ? std::optional<std::string>(*home + "/.mozilla/native-messaging-hosts") : std::nullopt;
    }
    std::optional<std::string> config = configDirectory();
    if (!config) return std::nullopt;
    return *config + (browser == Browser::Chromium ? "/chromium/NativeMessagingHosts"
                                                   : "/google-chrome/NativeMessagingHosts");
}

// The places the options name; false (with a message) when the user's home
// folder cannot be found.
bool placesOf(const std::string& command, const Options& options, std::vector<Place>& out) {
    if (!options.manifestDir.empty()) {
        out.push_back({*options.browser, options.manifestDir});
        return true;
    }
    for (Browser b : kAllBrowsers) {
        if (options.browser && *options.browser != b) continue;
        std::optional<std::string> dir = manifestDirectory(b, options.system);
        if (!dir) {
            std::cerr << "tessal " << command << ": the home folder is unknown (HOME is not set)\n";
            return false;
        }
        out.push_back({b, *dir});
    }
    return true;
}

std::string manifestPath(const Place& place) {
    return place.directory + "/" + TESSAL_NATIVE_HOST_NAME + ".json";
}

bool isExecutableFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The browser starts the host by the manifest's path, whatever its own
// working folder: the path is absolute and names an executable program.
std::optional<std::string> resolveHostProgram(const std::string& requested) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!requested.empty()) {
        const fs::path absolute = fs::absolute(requested, ec);
        if (ec || !isExecutableFile(absolute.string())) {
            std::cerr << "tessal register: " << requested << " is not an executable program\n";
            return std::nullopt;
        }
        return absolute.lexically_normal().string();
    }
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const std::string beside = (self.parent_path() / kHostProgramName).string();
        if (isExecutableFile(beside)) return beside;
    }
    if (isExecutableFile(TESSAL_INSTALLED_HOST_PROGRAM)) return std::string(TESSAL_INSTALLED_HOST_PROGRAM);
    std::cerr << "tessal register: " << kHostProgramName << " was found neither beside this command nor at "
              << TESSAL_INSTALLED_HOST_PROGRAM << " (name it with --host)\n";
    return std::nullopt;
}

std::string manifestText(Browser browser, const std::string& hostPath) {
    nlohmann::ordered_json manifest;
    manifest["name"] = TESSAL_NATIVE_HOST_NAME;
    manifest["description"] = "Tessal signing component";
    manifest["path"] = hostPath;
    manifest["type"] = "stdio";
    if (browser == Browser::Firefox) {
        manifest["allowed_extensions"] = {TESSAL_FIREFOX_EXTENSION_ID};
    } else {
        manifest["allowed_origins"] = {std::string("chrome-extension://") + TESSAL_CHROMIUM_EXTENSION_ID + "/"};
    }
    return manifest.dump(2) + "\n";
}

// A manifest is ours when it is a plain file that names this host and a
// tessal-host program, wherever that program was when it was written.
bool isOurManifest(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (static_cast<std::uintmax_t>(st.st_size) > kLargestManifest) return false;
    std::vector<std::uint8_t> bytes;
    if (!platform::readWholeFile(path, bytes, platform::FileKind::RegularNoLink)) return false;
    const nlohmann::json manifest = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (!manifest.is_object()) return false;
    const auto name = manifest.find("name");
    const auto program = manifest.find("path");
    if (name == manifest.end() || !name->is_string() || *name != TESSAL_NATIVE_HOST_NAME) return false;
    if (program == manifest.end() || !program->is_string()) return false;
    return std::filesystem::path(program->get<std::string>()).filename() == kHostProgramName;
}

bool sameContent(const std::string& path, const std::string& text) {
    std::vector<std::uint8_t> bytes;
    return platform::readWholeFile(path, bytes) && bytes.size() == text.size() &&
           std::memcmp(bytes.data(), text.data(), text.size()) == 0;
}

bool writeManifest(const Place& place, const std::string& hostPath) {
    const std::string path = manifestPath(place);
    const std::string text = manifestText(place.browser, hostPath);
    if (sameContent(path, text)) {
        std::cout << "unchanged: " << path << "\n";
        return true;
    }
    std::error_code ec;
    std::filesystem::create_directories(place.directory, ec);
    // The browser runs as whichever user opens it: the manifest is readable
    // by all, whatever the installing process's umask.
    if (ec || !platform::writeFileAtomically(path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size()) ||
        ::chmod(path.c_str(), 0644) != 0) {
        const int error = ec ? ec.value() : errno;
        std::cerr << "tessal register: cannot write " << path << ": " << std::strerror(error) << "\n";
        return false;
    }
    std::cout << "written: " << path << "\n";
    return true;
}

bool removeManifest(const Place& place) {
    const std::string path = manifestPath(place);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            std::cout << "absent: " << path << "\n";
            return true;
        }
        std::cerr << "tessal unregister: cannot examine " << path << ": " << std::strerror(errno) << "\n";
        return false;
    }
    if (!isOurManifest(path)) {
        std::cout << "kept (not ours): " << path << "\n";
        return true;
    }
    if (::unlink(path.c_str()) != 0) {
        std::cerr << "tessal unregister: cannot remove " << path << ": " << std::strerror(errno) << "\n";
        return false;
    }
    std::cout << "removed: " << path << "\n";
    return true;
}

}  // namespace

int runRegister(const std::vector<std::string>& args) {
    Options options;
    if (std::optional<int> status = parseOptions("register", args, true, options)) return *status;
    std::vector<Place> places;
    if (!placesOf("register", options, places)) return 1;
    const std::optional<std::string> hostPath = resolveHostProgram(options.hostPath);
    if (!hostPath) return 1;
    bool ok = true;
    for (const Place& place : places) ok = writeManifest(place, *hostPath) && ok;
    return ok ? 0 : 1;
}

int runUnregister(const std::vector<std::string>& args) {
    Options options;
    if (std::optional<int> status = parseOptions("unregister", args, false, options)) return *status;
    std::vector<Place> places;
    if (!placesOf("unregister", options, places)) return 1;
    bool ok = true;
    for (const Place& place : places) ok = removeManifest(place) && ok;
    return ok ? 0 : 1;
}

}  // namespace tessal::cli
