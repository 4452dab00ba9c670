/* A PKCS#11 module for tests that passes every call to another module and
 * writes one line per C_Login result to a file, so a test can count the PINs
 * a token was given. It can also make the token report a PIN on its last
 * try or blocked.
 *
 *   COUNTING_PKCS11_MODULE  the module passed to (default: SoftHSM2)
 *   COUNTING_PKCS11_LOG     the file that gets "ok", "refused" or "other"
 *                           for each C_Login
 *   COUNTING_PKCS11_FLAGS   "final-try" or "locked": added to the token flags
 */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <p11-kit/pkcs11.h>

static CK_FUNCTION_LIST *passedTo;
static CK_FUNCTION_LIST counting;

static void record(const char *result) {
    const char *path = getenv("COUNTING_PKCS11_LOG");
    if (!path || !*path) return;
    FILE *log = fopen(path, "a");
    if (!log) return;
    fprintf(log, "%s\n", result);
    fclose(log);
}

static CK_RV countingLogin(CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG length) {
    const CK_RV rv = passedTo->C_Login(session, user, pin, length);
    record(rv == CKR_OK ? "ok" : rv == CKR_PIN_INCORRECT ? "refused" : "other");
    return rv;
}

static CK_RV flaggedTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info) {
    const CK_RV rv = passedTo->C_GetTokenInfo(slot, info);
    const char *flags = getenv("COUNTING_PKCS11_FLAGS");
    if (rv != CKR_OK || !flags) return rv;
    if (strcmp(flags, "final-try") == 0) info->flags |= CKF_USER_PIN_FINAL_TRY;
    if (strcmp(flags, "locked") == 0) info->flags |= CKF_USER_PIN_LOCKED;
    return rv;
}

CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    if (!list) return CKR_ARGUMENTS_BAD;
    if (!passedTo) {
        const char *module = getenv("COUNTING_PKCS11_MODULE");
        void *library = dlopen(module && *module ? module : "/usr/lib/softhsm/libsofthsm2.so", RTLD_NOW | RTLD_LOCAL);
        CK_C_GetFunctionList get = NULL;
        /* dlsym answers an object pointer; POSIX lets it be copied into a function pointer. */
        void *symbol = library ? dlsym(library, "C_GetFunctionList") : NULL;
        memcpy(&get, &symbol, sizeof get);
        if (!get || get(&passedTo) != CKR_OK || !passedTo) return CKR_GENERAL_ERROR;
        counting = *passedTo;
        counting.C_GetFunctionList = C_GetFunctionList;
        counting.C_Login = countingLogin;
        counting.C_GetTokenInfo = flaggedTokenInfo;
    }
    *list = &counting;
    return CKR_OK;
}
