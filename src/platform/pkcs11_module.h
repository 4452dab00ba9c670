#pragma once
// PKCS#11 modules as the key store uses them: where the registered ones are
// configured, loading and initialising one once for the process, sessions
// that close themselves, object attributes, and the translation of return
// values into the thread's last error.
#include <p11-kit/pkcs11.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto_provider.h"

namespace tessal::platform::pkcs11 {

// A module registered with p11-kit: its name (the configuration file's name
// without ".module") and the library as the file gives it (a relative name
// is resolved by p11-kit against its module directory).
struct RegisteredModule {
    std::string name;
    std::string library;
};

// The registered modules, from p11-kit's configuration files only: no
// library is opened. Ordered as p11-kit orders them (higher priority first,
// then by name). Nothing when no configuration directory can be read.
std::optional<std::vector<RegisteredModule>> registeredModules();

// One module, loaded and initialised; it is finalised and released when the
// last holder lets go.
class Module {
public:
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    CK_FUNCTION_LIST& api() const { return *functions_; }

    // The module for `library`, loaded on first use and kept for the process;
    // nothing with NTE_KEYSET_NOT_DEFINED when it does not load or start.
    static std::shared_ptr<Module> load(const std::string& library);
    // Drops the kept modules; those still held finalise when released.
    static void forgetAll();

private:
    Module(CK_FUNCTION_LIST* functions, bool finalize) : functions_(functions), finalize_(finalize) {}
    CK_FUNCTION_LIST* functions_;
    bool finalize_;
};

// A session on one slot, closed on destruction.
class Session {
public:
    // Nothing, with the last error set, when the token cannot open one.
    static std::unique_ptr<Session> open(std::shared_ptr<Module> module, CK_SLOT_ID slot);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    CK_FUNCTION_LIST& api() const { return module_->api(); }
    CK_SESSION_HANDLE handle() const { return handle_; }

    // The objects matching the template (all objects for an empty one), in
    // the token's order; nothing with the last error set on failure.
    std::optional<std::vector<CK_OBJECT_HANDLE>> find(std::vector<CK_ATTRIBUTE> match) const;
    // An attribute's value; nothing when the object lacks it or hides it.
    std::optional<ByteBlock> attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const;
    // A CK_BBOOL attribute; false when absent.
    bool flag(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const;
    std::optional<CK_ULONG> number(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const;

private:
    Session(std::shared_ptr<Module> module, CK_SESSION_HANDLE handle) : module_(std::move(module)), handle_(handle) {}
    std::shared_ptr<Module> module_;
    CK_SESSION_HANDLE handle_;
};

// The last-error code for a failed call: ERROR_NO_TOKEN when the token or
// session is gone, SCARD_W_WRONG_CHV for a wrong PIN, else the PKCS#11 code
// space (kPkcs11CodeBase + CKR); vendor-defined values answer NTE_FAIL.
std::uint32_t errorFromRv(CK_RV rv);
// Sets the last error for `rv` and answers false.
bool failWith(CK_RV rv);

// A blank-padded fixed-width text field of a PKCS#11 info structure.
std::string paddedText(const CK_UTF8CHAR* field, std::size_t size);

}  // namespace tessal::platform::pkcs11
