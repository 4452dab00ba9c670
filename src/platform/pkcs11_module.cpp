#include "platform/pkcs11_module.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <system_error>
#include <utility>

#include "platform/key_store.h"
#include "platform/last_error.h"
#include "platform/p11_kit_library.h"
#include "platform/system_messages.h"
#include "platform/trap_released_lock.h"

namespace tessal::platform::pkcs11 {

namespace {


// The machine's module configuration overrides the packages' files of the
// same name. Per-user configuration is left out: p11-kit ignores it for
// root, and a library must not depend on who runs it.
constexpr const char* kConfigDirectories[] = {"/etc/pkcs11/modules", "/usr/share/p11-kit/modules"};
constexpr std::string_view kModuleSuffix = ".module";
constexpr std::string_view kBlanks = " \t\r\n";

std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

struct ModuleFile {
    std::string library;
    int priority = 0;
};

// The "module:" and "priority:" settings of one configuration file.
std::optional<ModuleFile> readModuleFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    ModuleFile file;
    std::string raw;
    while (std::getline(in, raw)) {
        const std::string_view line = trimmed(raw);
        if (line.empty() || line.front() == '#') continue;
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view key = trimmed(line.substr(0, colon));
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (key == "module") {
            file.library = std::string(value);
        } else if (key == "priority") {
            try {
                file.priority = std::stoi(std::string(value));
            } catch (const std::exception&) {
                file.priority = 0;
            }
        }
    }
    if (file.library.empty()) return std::nullopt;
    return file;
}

TrapReleasedMutex modulesMutex;
// Never destroyed: finalising a module from the process's exit handlers runs
// after the module's own static objects are gone and crashes some modules,
// and the operating system releases everything at exit anyway.
std::map<std::string, std::shared_ptr<Module>>& loadedModules = *new std::map<std::string, std::shared_ptr<Module>>;

}  // namespace

std::optional<std::vector<RegisteredModule>> registeredModules() {
    std::map<std::string, ModuleFile> byName;
    bool readable = false;
    for (const char* directory : kConfigDirectories) {
        std::error_code ec;
        std::filesystem::directory_iterator it(directory, ec);
        if (ec) continue;
        readable = true;
        for (const auto& entry : it) {
            const std::string fileName = entry.path().filename().string();
            if (fileName.size() <= kModuleSuffix.size() || !fileName.ends_with(kModuleSuffix)) continue;
            const std::string name = fileName.substr(0, fileName.size() - kModuleSuffix.size());
            if (byName.count(name) != 0) continue;  // an earlier directory overrides
            if (auto file = readModuleFile(entry.path())) byName.emplace(name, std::move(*file));
        }
    }
    if (!readable) return std::nullopt;

    std::vector<std::pair<std::string, ModuleFile>> ordered(byName.begin(), byName.end());
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const auto& a, const auto& b) { return a.second.priority > b.second.priority; });
    std::vector<RegisteredModule> modules;
    for (auto& [name, file] : ordered) modules.push_back({name, std::move(file.library)});
    return modules;
}

Module::~Module() {
    // A module exists only once p11-kit has been opened.
    const P11KitLibrary& p11Kit = *p11KitLibrary();
    if (finalize_) p11Kit.moduleFinalize(functions_);
    p11Kit.moduleRelease(functions_);
}

std::shared_ptr<Module> Module::load(const std::string& library) {
    std::lock_guard lock(modulesMutex);
    if (auto it = loadedModules.find(library); it != loadedModules.end()) return it->second;

    // p11-kit is opened here, by the first module asked for; without it no
    // module loads.
    const P11KitLibrary* p11Kit = p11KitLibrary();
    CK_FUNCTION_LIST* functions = library.empty() || !p11Kit ? nullptr : p11Kit->moduleLoad(library.c_str(), 0);
    if (!functions) {
        setLastError(kNteKeysetNotDefined);
        return nullptr;
    }
    const CK_RV rv = p11Kit->moduleInitialize(functions);
    // Another part of the process may have started the module already; it
    // then stays started for that part, so it is not finalised here.
    if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        p11Kit->moduleRelease(functions);
        setLastError(kNteKeysetNotDefined);
        return nullptr;
    }
    std::shared_ptr<Module> module(new Module(functions, rv == CKR_OK));
    loadedModules.emplace(library, module);
    return module;
}

void Module::forgetAll() {
    std::map<std::string, std::shared_ptr<Module>> dropped;
    {
        std::lock_guard lock(modulesMutex);
        dropped.swap(loadedModules);
    }
}

std::unique_ptr<Session> Session::open(std::shared_ptr<Module> module, CK_SLOT_ID slot) {
    CK_SESSION_HANDLE handle = CK_INVALID_HANDLE;
    const CK_RV rv = module->api().C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &handle);
    if (rv != CKR_OK) {
        failWith(rv);
        return nullptr;
    }
    return std::unique_ptr<Session>(new Session(std::move(module), handle));
}

Session::~Session() { api().C_CloseSession(handle_); }

std::optional<std::vector<CK_OBJECT_HANDLE>> Session::find(std::vector<CK_ATTRIBUTE> match) const {
    CK_RV rv = api().C_FindObjectsInit(handle_, match.empty() ? nullptr : match.data(), match.size());
    if (rv != CKR_OK) {
        failWith(rv);
        return std::nullopt;
    }
    std::vector<CK_OBJECT_HANDLE> objects;
    CK_OBJECT_HANDLE batch[64];
    for (;;) {
        CK_ULONG count = 0;
        rv = api().C_FindObjects(handle_, batch, std::size(batch), &count);
        if (rv != CKR_OK || count == 0) break;
        objects.insert(objects.end(), batch, batch + count);
    }
    api().C_FindObjectsFinal(handle_);
    if (rv != CKR_OK) {
        failWith(rv);
        return std::nullopt;
    }
    return objects;
}

std::optional<ByteBlock> Session::attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const {
    CK_ATTRIBUTE query{type, nullptr, 0};
    if (api().C_GetAttributeValue(handle_, object, &query, 1) != CKR_OK ||
        query.ulValueLen == CK_UNAVAILABLE_INFORMATION) {
        return std::nullopt;
    }
    ByteBlock value(query.ulValueLen);
    query.pValue = value.data();
    if (api().C_GetAttributeValue(handle_, object, &query, 1) != CKR_OK ||
        query.ulValueLen == CK_UNAVAILABLE_INFORMATION || query.ulValueLen > value.size()) {
        return std::nullopt;
    }
    value.resize(query.ulValueLen);
    return value;
}

bool Session::flag(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const {
    CK_BBOOL value = CK_FALSE;
    CK_ATTRIBUTE query{type, &value, sizeof value};
    return api().C_GetAttributeValue(handle_, object, &query, 1) == CKR_OK && query.ulValueLen == sizeof value &&
           value == CK_TRUE;
}

std::optional<CK_ULONG> Session::number(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const {
    CK_ULONG value = 0;
    CK_ATTRIBUTE query{type, &value, sizeof value};
    if (api().C_GetAttributeValue(handle_, object, &query, 1) != CKR_OK || query.ulValueLen != sizeof value) {
        return std::nullopt;
    }
    return value;
}

std::uint32_t errorFromRv(CK_RV rv) {
    switch (rv) {
        case CKR_OK: return 0;
        case CKR_TOKEN_NOT_PRESENT:
        case CKR_DEVICE_REMOVED:
        case CKR_SESSION_HANDLE_INVALID:
        case CKR_SESSION_CLOSED: return kErrorNoToken;
        case CKR_PIN_INCORRECT:
        case CKR_PIN_INVALID:
        case CKR_PIN_LEN_RANGE: return kScardWrongChv;
        case CKR_PIN_LOCKED: return kScardChvBlocked;
        default: break;
    }
    // The PKCS#11 code space is 16 bits wide; vendor values do not fit it.
    if (rv < 0x10000u) return kPkcs11CodeBase + static_cast<std::uint32_t>(rv);
    return kNteFail;
}

bool failWith(CK_RV rv) {
    setLastError(errorFromRv(rv));
    return false;
}

std::string paddedText(const CK_UTF8CHAR* field, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(field), size);
    const auto end = text.find_last_not_of(" \0", std::string::npos, 2);
    text.resize(end == std::string::npos ? 0 : end + 1);
    return text;
}

}  // namespace tessal::platform::pkcs11
