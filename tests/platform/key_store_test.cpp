#include "platform/key_store.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <p11-kit/pkcs11.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/last_error.h"
#include "platform/pkcs11_module.h"
#include "platform/stored_pin.h"
#include "platform/system_messages.h"
#include "support/test_support.h"

namespace tessal::platform {
namespace {

using Bytes = ByteBlock;

constexpr const char* kModule = "/usr/lib/softhsm/libsofthsm2.so";
constexpr const char* kProviderKey = "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\";
constexpr std::uint32_t kWrongPin = 0x8010006Bu;
constexpr std::uint32_t kNoPinGiven = 0x8010006Eu;

// Makes the private key labelled `label` on token "demo" a signing-only key:
// the token tools give every RSA key decrypt and unwrap as well.
bool restrictToSigning(const std::string& label) {
    void* library = dlopen(kModule, RTLD_NOW | RTLD_LOCAL);
    if (!library) return false;
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
    CK_FUNCTION_LIST* f = nullptr;
    bool done = false;
    if (getList && getList(&f) == CKR_OK && f->C_Initialize(nullptr) == CKR_OK) {
        CK_SLOT_ID slots[8];
        CK_ULONG count = 8;
        f->C_GetSlotList(CK_TRUE, slots, &count);
        for (CK_ULONG i = 0; i < count && !done; ++i) {
            CK_TOKEN_INFO info{};
            if (f->C_GetTokenInfo(slots[i], &info) != CKR_OK ||
                pkcs11::paddedText(info.label, sizeof info.label) != "demo") {
                continue;
            }
            CK_SESSION_HANDLE s = 0;
            f->C_OpenSession(slots[i], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s);
            CK_UTF8CHAR pin[] = "1234";
            f->C_Login(s, CKU_USER, pin, 4);
            CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
            CK_ATTRIBUTE match[] = {{CKA_CLASS, &cls, sizeof cls},
                                    {CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
            CK_OBJECT_HANDLE key = 0;
            CK_ULONG found = 0;
            f->C_FindObjectsInit(s, match, 2);
            f->C_FindObjects(s, &key, 1, &found);
            f->C_FindObjectsFinal(s);
            CK_BBOOL no = CK_FALSE;
            CK_ATTRIBUTE usage[] = {{CKA_DECRYPT, &no, sizeof no}, {CKA_UNWRAP, &no, sizeof no}};
            done = found == 1 && f->C_SetAttributeValue(s, key, usage, 2) == CKR_OK;
            f->C_CloseSession(s);
        }
        f->C_Finalize(nullptr);
    }
    dlclose(library);
    return done;
}

EVP_PKEY* certificateKey(const Bytes& der) {
    const unsigned char* p = der.data();
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    EVP_PKEY* key = x ? X509_get_pubkey(x) : nullptr;
    X509_free(x);
    return key;
}

// The blob as the certificate's key hash is computed over it: the fixed
// header bytes, then the certificate's modulus least significant first.
Bytes expectedBlob(const Bytes& certificateDer) {
    EVP_PKEY* key = certificateKey(certificateDer);
    BIGNUM* n = nullptr;
    Bytes modulus;
    if (key && EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) == 1) {
        modulus.resize(static_cast<std::size_t>(BN_num_bytes(n)));
        BN_bn2bin(n, modulus.data());
    }
    BN_free(n);
    EVP_PKEY_free(key);
    static const std::uint8_t header[] = {0x06, 0x02, 0x00, 0x00, 0x00, 0xA4, 0x00, 0x00, 'R', 'S', 'A', '1',
                                          0x00, 0x08, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00};
    Bytes blob(sizeof header + modulus.size());
    std::copy(std::begin(header), std::end(header), blob.begin());
    std::reverse_copy(modulus.begin(), modulus.end(), blob.begin() + sizeof header);
    return blob;
}

bool verifies(const Bytes& certificateDer, DigestKind kind, const Bytes& digest, Bytes signature) {
    static const EVP_MD* const mds[] = {EVP_sha1(), EVP_sha256(), EVP_sha384(), EVP_sha512()};
    std::reverse(signature.begin(), signature.end());
    EVP_PKEY* key = certificateKey(certificateDer);
    EVP_PKEY_CTX* ctx = key ? EVP_PKEY_CTX_new(key, nullptr) : nullptr;
    const bool ok = ctx && EVP_PKEY_verify_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
                    EVP_PKEY_CTX_set_signature_md(ctx, mds[static_cast<int>(kind)]) == 1 &&
                    EVP_PKEY_verify(ctx, signature.data(), signature.size(), digest.data(), digest.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
    return ok;
}

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Two SoftHSM2 tokens made once for the suite:
//   demo:   "signer" (id 01: key pair + certificate, decrypt and sign),
//           "sigonly" (id 02: imported signing-only key + certificate),
//           an unlabelled key pair with id 03;
//   second: "other" (id 04: key pair).
class KeyStoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (std::system("command -v softhsm2-util >/dev/null && command -v pkcs11-tool >/dev/null && "
                        "command -v openssl >/dev/null") != 0 ||
            !std::filesystem::exists(kModule)) {
            return;
        }
        dir_ = new test::TempDir();
        const std::string d = dir_->path().string();
        std::filesystem::create_directories(d + "/tokens");
        test::writeWholeFile(d + "/softhsm2.conf", "directories.tokendir = " + d +
                                                       "/tokens\nobjectstore.backend = file\nslots.removable = false\n");
        setenv("SOFTHSM2_CONF", (d + "/softhsm2.conf").c_str(), 1);
        const std::string tool = std::string("pkcs11-tool --module ") + kModule + " --login --pin 1234 --token-label ";
        const std::string script =
            "set -e\ncd '" + d + "'\n" +
            "softhsm2-util --init-token --free --label demo --so-pin 12345678 --pin 1234\n"
            "softhsm2-util --init-token --free --label second --so-pin 12345678 --pin 1234\n" +
            tool + "demo --keypairgen --key-type rsa:2048 --id 01 --label signer\n" + tool +
            "demo --read-object --type pubkey --id 01 -o pub.der\n"
            "openssl pkey -pubin -inform DER -in pub.der -out pub.pem\n"
            "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -subj /CN=CA -days 2\n"
            "openssl req -new -key ca.key -subj /CN=Signer -out signer.csr\n"
            "openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -force_pubkey pub.pem "
            "-days 2 -outform DER -out signer.der\n" +
            tool + "demo --write-object signer.der --type cert --id 01 --label signer\n" +
            "openssl req -x509 -newkey rsa:2048 -nodes -keyout s.key -subj /CN=SignOnly -days 2 -outform DER "
            "-out sigonly.der\n"
            "openssl pkey -in s.key -outform DER -out s.key.der\n" +
            tool + "demo --write-object s.key.der --type privkey --id 02 --label sigonly --usage-sign\n" + tool +
            "demo --write-object sigonly.der --type cert --id 02 --label sigonly\n" + tool +
            "demo --keypairgen --key-type rsa:2048 --id 03\n" + tool +
            "second --keypairgen --key-type rsa:2048 --id 04 --label other\n" + "printf '1234\\n' > pin.txt\n";
        test::writeWholeFile(d + "/make.sh", script);
        if (std::system(("sh '" + d + "/make.sh' >'" + d + "/make.log' 2>&1").c_str()) != 0) {
            ADD_FAILURE() << test::readWholeFile(d + "/make.log");
            return;
        }
        if (!restrictToSigning("sigonly")) {
            ADD_FAILURE() << "could not make the sigonly key signing-only";
            return;
        }
        const std::string module = std::string("module = ") + kModule + "\n";
        const std::string p = kProviderKey;
        test::writeWholeFile(d + "/tessal.conf", "[" + p + "Test HSM]\n" + module + "pin = 1234\n" + "[" + p +
                                                     "No PIN]\n" + module + "[" + p + "Second Only]\n" + module +
                                                     "pin = 1234\ntoken = second\n" + "[" + p + "Pin File]\n" +
                                                     module + "pinFile = " + d + "/pin.txt\n" + "[" + p +
                                                     "Broken]\nmodule = " + d + "/missing.so\n" + "[" + p +
                                                     "softhsm2]\npin = 1234\n" +
                                                     "[SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers\\Virtual "
                                                     "PCD 00 00]\ntoken = second\n" +
                                                     "[SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers\\Two "
                                                     "Token Card]\ntoken = demo , second\n");
        setenv("TESSAL_CONFIG", (d + "/tessal.conf").c_str(), 1);
        signerDer_ = test::readWholeFile(d + "/signer.der");
        sigonlyDer_ = test::readWholeFile(d + "/sigonly.der");
        ready_ = true;
    }

    static void TearDownTestSuite() {
        unloadKeyStoreModulesForTesting();
        unsetenv("TESSAL_CONFIG");
        unsetenv("SOFTHSM2_CONF");
        delete dir_;
        dir_ = nullptr;
        ready_ = false;
    }

    void SetUp() override {
        if (!ready_) TESSAL_SKIP_UNLESS_CI("SoftHSM2 tokens are not available (softhsm2-util, pkcs11-tool, openssl)");
        unsetenv("TESSAL_PIN");
        forgetEnvironmentPinForTesting();
    }

    static Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

    static test::TempDir* dir_;
    static bool ready_;
    static std::string signerDer_;
    static std::string sigonlyDer_;
};

test::TempDir* KeyStoreTest::dir_ = nullptr;
bool KeyStoreTest::ready_ = false;
std::string KeyStoreTest::signerDer_;
std::string KeyStoreTest::sigonlyDer_;

TEST_F(KeyStoreTest, InstalledProvidersListConfiguredModulesFirst) {
    auto names = installedProviders();
    ASSERT_TRUE(names);
    ASSERT_GE(names->size(), 5u);
    EXPECT_EQ(std::vector<std::string>(names->begin(), names->begin() + 5),
              (std::vector<std::string>{"Test HSM", "No PIN", "Second Only", "Pin File", "Broken"}));
    // A section holding only settings for a registered module adds no name of its own.
    if (std::filesystem::exists("/usr/share/p11-kit/modules/softhsm2.module")) {
        EXPECT_EQ(std::count(names->begin(), names->end(), "softhsm2"), 1);
    }

    const std::string config = dir_->file("no-discovery.conf");
    test::writeWholeFile(config, test::readWholeFile(dir_->file("tessal.conf")) + "[platform]\np11kitDiscovery = no\n");
    ScopedEnv env("TESSAL_CONFIG", config);
    names = installedProviders();
    ASSERT_TRUE(names);
    EXPECT_EQ(names->size(), 5u);
    EXPECT_FALSE(acquireContainer("softhsm2", "HSM", "signer"));
    EXPECT_EQ(lastError(), kNteKeysetNotDefined);
}

TEST_F(KeyStoreTest, ListContainersNamesEachContainerOnce) {
    auto names = listContainers("Test HSM", "HSM");
    ASSERT_TRUE(names);
    std::vector<std::string> sorted = *names;
    std::sort(sorted.begin(), sorted.end());
    // "signer" has both a certificate and a public key; the unlabelled pair is named by its id.
    EXPECT_EQ(sorted, (std::vector<std::string>{"03", "other", "signer", "sigonly"}));

    names = listContainers("Second Only", "HSM");
    ASSERT_TRUE(names);
    EXPECT_EQ(*names, std::vector<std::string>{"other"});

    // A card reader reaches only the token the card table binds to it.
    names = listContainers("Test HSM", "Virtual PCD 00 00");
    ASSERT_TRUE(names);
    EXPECT_EQ(*names, std::vector<std::string>{"other"});
    EXPECT_FALSE(listContainers("Test HSM", "Unbound Reader"));
    EXPECT_EQ(lastError(), kErrorNoToken);
    EXPECT_FALSE(listContainers("Nobody", "HSM"));
    EXPECT_EQ(lastError(), kNteKeysetNotDefined);
}

TEST_F(KeyStoreTest, AcquireContainerReportsWhatIsMissing) {
    EXPECT_TRUE(acquireContainer("Test HSM", "HSM", "signer"));
    EXPECT_TRUE(acquireContainer("test hsm", "HSM", "03"));
    EXPECT_TRUE(acquireContainer("Test HSM", "Virtual PCD 00 00", "other"));

    EXPECT_FALSE(acquireContainer("Test HSM", "HSM", "absent"));
    EXPECT_EQ(lastError(), kNteBadKeyset);
    EXPECT_FALSE(acquireContainer("Second Only", "HSM", "signer"));
    EXPECT_EQ(lastError(), kNteBadKeyset);
    EXPECT_FALSE(acquireContainer("Test HSM", "HSM", ""));
    EXPECT_EQ(lastError(), kNteBadKeyset);
    EXPECT_FALSE(acquireContainer("Test HSM", "Unbound Reader", "signer"));
    EXPECT_EQ(lastError(), kErrorNoToken);
    EXPECT_FALSE(acquireContainer("Nobody", "HSM", "signer"));
    EXPECT_EQ(lastError(), kNteKeysetNotDefined);
    EXPECT_FALSE(acquireContainer("Broken", "HSM", "signer"));
    EXPECT_EQ(lastError(), kNteKeysetNotDefined);
}

TEST_F(KeyStoreTest, UserKeyFollowsTheKeyUsage) {
    auto signer = acquireContainer("Test HSM", "HSM", "signer");
    ASSERT_TRUE(signer);
    EXPECT_TRUE(signer->userKey(KeySpec::Exchange));
    EXPECT_FALSE(signer->userKey(KeySpec::Signature));
    EXPECT_EQ(lastError(), kNteNoKey);

    auto sigonly = acquireContainer("Test HSM", "HSM", "sigonly");
    ASSERT_TRUE(sigonly);
    EXPECT_TRUE(sigonly->userKey(KeySpec::Signature));
    EXPECT_FALSE(sigonly->userKey(KeySpec::Exchange));
    EXPECT_EQ(lastError(), kNteNoKey);
}

TEST_F(KeyStoreTest, SignaturesVerifyWithTheCertificateKey) {
    struct Case {
        const char* container;
        KeySpec spec;
        const std::string* certificate;
    };
    for (const Case& c : {Case{"signer", KeySpec::Exchange, &signerDer_},
                          Case{"sigonly", KeySpec::Signature, &sigonlyDer_}}) {
        SCOPED_TRACE(c.container);
        auto provider = acquireContainer("Pin File", "HSM", c.container);
        ASSERT_TRUE(provider);
        auto key = provider->userKey(c.spec);
        ASSERT_TRUE(key);
        for (DigestKind kind : {DigestKind::Sha1, DigestKind::Sha256, DigestKind::Sha384, DigestKind::Sha512}) {
            SCOPED_TRACE(static_cast<int>(kind));
            auto hash = provider->createHash(kind);
            ASSERT_TRUE(hash);
            const std::string data = "<SignedInfo>to be signed</SignedInfo>";
            ASSERT_TRUE(hash->update(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
            EXPECT_EQ(key->signatureSize(*hash), 256u);

            Bytes signature(300);
            const auto written = key->sign(*hash, signature.data(), signature.size());
            ASSERT_EQ(written, 256u);
            signature.resize(*written);
            EXPECT_TRUE(verifies(bytes(*c.certificate), kind, *hash->value(), signature));
        }
        auto hash = provider->createHash(DigestKind::Sha256);
        Bytes small(255);
        EXPECT_FALSE(key->sign(*hash, small.data(), small.size()));
    }
}

TEST_F(KeyStoreTest, KeyPairGivesItsCertificateAndPublicKeyBlob) {
    auto signer = acquireContainer("Test HSM", "HSM", "signer");
    ASSERT_TRUE(signer);
    auto key = signer->userKey(KeySpec::Exchange);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->storedCertificate(), bytes(signerDer_));
    // From the public key object.
    EXPECT_EQ(key->publicKeyBlob(), expectedBlob(bytes(signerDer_)));

    // No public key object: the blob comes from the private key's attributes.
    auto sigonly = acquireContainer("Test HSM", "HSM", "sigonly");
    ASSERT_TRUE(sigonly);
    key = sigonly->userKey(KeySpec::Signature);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->storedCertificate(), bytes(sigonlyDer_));
    EXPECT_EQ(key->publicKeyBlob(), expectedBlob(bytes(sigonlyDer_)));

    auto unlabelled = acquireContainer("Test HSM", "HSM", "03");
    ASSERT_TRUE(unlabelled);
    key = unlabelled->userKey(KeySpec::Exchange);
    ASSERT_TRUE(key);
    EXPECT_FALSE(key->storedCertificate());
    auto blob = key->publicKeyBlob();
    ASSERT_TRUE(blob);
    EXPECT_EQ(blob->size(), 20u + 256u);
}

TEST_F(KeyStoreTest, LoginFailuresGiveCardCodes) {
    {
        // TESSAL_PIN comes before the provider's own PIN.
        ScopedEnv pin("TESSAL_PIN", "9999");
        auto provider = acquireContainer("Test HSM", "HSM", "signer");
        ASSERT_TRUE(provider);
        EXPECT_FALSE(provider->userKey(KeySpec::Exchange));
        EXPECT_EQ(lastError(), kWrongPin);
        // It was taken out of the environment and is kept for later logins.
        EXPECT_EQ(std::getenv("TESSAL_PIN"), nullptr);
        EXPECT_FALSE(provider->userKey(KeySpec::Exchange));
        EXPECT_EQ(lastError(), kWrongPin);
    }
    forgetEnvironmentPinForTesting();
    auto provider = acquireContainer("No PIN", "HSM", "signer");
    ASSERT_TRUE(provider);  // the container is public: finding it needs no PIN
    EXPECT_FALSE(provider->userKey(KeySpec::Exchange));
    EXPECT_EQ(lastError(), kNoPinGiven);

    ScopedEnv pin("TESSAL_PIN", "1234");
    EXPECT_TRUE(provider->userKey(KeySpec::Exchange));
}

TEST_F(KeyStoreTest, ACardsPinComesFromTheDesktopPromptAndAnHsmsNever) {
    const std::string program = dir_->file("pinentry");
    test::writeWholeFile(program, "#!/bin/sh\necho OK\nwhile read cmd rest; do case \"$cmd\" in "
                                  "GETPIN) echo 'D 1234'; echo OK;; BYE) echo OK; exit 0;; *) echo OK;; esac; done\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    const std::string config = dir_->file("prompt.conf");
    test::writeWholeFile(config, test::readWholeFile(dir_->file("tessal.conf")) + "[platform]\npinentryProgram = " +
                                     program + "\npinentryTimeout = 5\n");
    ScopedEnv env("TESSAL_CONFIG", config);
    // The reader is bound to the token "second", whose key "other" needs a login.
    auto card = acquireContainer("No PIN", "Virtual PCD 00 00", "other");
    ASSERT_TRUE(card);
    EXPECT_TRUE(card->userKey(KeySpec::Exchange)) << std::hex << lastError();
    auto hsm = acquireContainer("No PIN", "HSM", "signer");
    ASSERT_TRUE(hsm);
    EXPECT_FALSE(hsm->userKey(KeySpec::Exchange));
    EXPECT_EQ(lastError(), kNoPinGiven);
}

TEST_F(KeyStoreTest, EveryTokenBoundToAReaderIsSearched) {
    // A card showing one token per PIN: "signer" is on the first, "other" on the second.
    auto names = listContainers("Test HSM", "Two Token Card");
    ASSERT_TRUE(names);
    EXPECT_NE(std::find(names->begin(), names->end(), "signer"), names->end());
    EXPECT_NE(std::find(names->begin(), names->end(), "other"), names->end());
    auto second = acquireContainer("Test HSM", "Two Token Card", "other");
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->userKey(KeySpec::Exchange)) << std::hex << lastError();
    EXPECT_TRUE(acquireContainer("Test HSM", "Two Token Card", "signer"));
}

TEST_F(KeyStoreTest, OnTheLastTryOnlyTheCardsPromptGivesThePin) {
    // The stand-in pinentry keeps its environment and the description it was shown.
    const std::string program = dir_->file("pinentry-last-try");
    const std::string seen = dir_->file("pinentry-seen");
    test::writeWholeFile(program, "#!/bin/sh\nenv > '" + seen + "'\necho OK\nwhile read cmd rest; do case \"$cmd\" in "
                                  "SETDESC) echo \"$rest\" >> '" + seen + "'; echo OK;; "
                                  "GETPIN) echo 'D 1234'; echo OK;; BYE) echo OK; exit 0;; *) echo OK;; esac; done\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    const std::string config = dir_->file("last-try.conf");
    // The pass-through module counts the logins and reports the token's state as told.
    test::writeWholeFile(config, test::readWholeFile(dir_->file("tessal.conf")) + "[" + kProviderKey +
                                     "Counting]\nmodule = " + TESSAL_COUNTING_PKCS11 + "\npin = 1234\n" +
                                     "[platform]\npinentryProgram = " + program + "\npinentryTimeout = 5\n");
    const std::string logins = dir_->file("logins");
    ScopedEnv env("TESSAL_CONFIG", config);
    ScopedEnv log("COUNTING_PKCS11_LOG", logins);
    ScopedEnv flags("COUNTING_PKCS11_FLAGS", "final-try");
    ScopedEnv pin("TESSAL_PIN", "9999");

    // The reader's token "second" is on its last try: neither TESSAL_PIN nor
    // the configured PIN is presented; the prompt warns and its PIN logs in.
    auto card = acquireContainer("Counting", "Virtual PCD 00 00", "other");
    ASSERT_TRUE(card);
    EXPECT_TRUE(card->userKey(KeySpec::Exchange)) << std::hex << lastError();
    EXPECT_EQ(test::readWholeFile(logins), "ok\n");
    const std::string shown = test::readWholeFile(seen);
    EXPECT_NE(shown.find("Paskutinis bandymas"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("TESSAL_PIN"), std::string::npos) << "the prompt inherited TESSAL_PIN";

    // An HSM has no prompt: nothing is presented.
    std::filesystem::remove(logins);
    auto hsm = acquireContainer("Counting", "HSM", "sigonly");
    ASSERT_TRUE(hsm);
    EXPECT_FALSE(hsm->userKey(KeySpec::Signature));
    EXPECT_EQ(lastError(), kNoPinGiven);
    EXPECT_FALSE(std::filesystem::exists(logins));

    // A blocked PIN is not presented, whoever could give it.
    ScopedEnv locked("COUNTING_PKCS11_FLAGS", "locked");
    EXPECT_FALSE(hsm->userKey(KeySpec::Signature));
    EXPECT_EQ(lastError(), 0x8010006Cu);
    EXPECT_FALSE(std::filesystem::exists(logins));
}

TEST(KeyStoreErrors, ReturnValuesMapToTheCodesTheLogicTests) {
    EXPECT_EQ(pkcs11::errorFromRv(CKR_TOKEN_NOT_PRESENT), kErrorNoToken);
    EXPECT_EQ(pkcs11::errorFromRv(CKR_DEVICE_REMOVED), kErrorNoToken);
    EXPECT_EQ(pkcs11::errorFromRv(CKR_SESSION_HANDLE_INVALID), kErrorNoToken);
    EXPECT_EQ(pkcs11::errorFromRv(CKR_PIN_INCORRECT), kWrongPin);
    EXPECT_EQ(pkcs11::errorFromRv(CKR_PIN_INVALID), kWrongPin);
    EXPECT_EQ(pkcs11::errorFromRv(CKR_PIN_LEN_RANGE), kWrongPin);
    EXPECT_EQ(pkcs11::errorFromRv(CKR_PIN_LOCKED), 0x8010006Cu);
    EXPECT_EQ(pkcs11::errorFromRv(CKR_FUNCTION_NOT_SUPPORTED), kPkcs11CodeBase + 0x54);
    EXPECT_TRUE(systemMessageText(pkcs11::errorFromRv(CKR_PIN_LOCKED)));
    // Vendor values are wider than the PKCS#11 code space.
    EXPECT_EQ(pkcs11::errorFromRv(CKR_VENDOR_DEFINED | 5), kNteFail);
}

TEST(KeyStoreDoubles, StandInForTheThreeOperationsUntilCleared) {
    KeyStoreDouble stand;
    stand.installedProviders = [] { return std::vector<std::string>{"Double"}; };
    stand.listContainers = [](std::string_view provider, std::string_view reader) {
        return std::vector<std::string>{std::string(provider) + "/" + std::string(reader)};
    };
    setKeyStoreForTesting(stand);
    EXPECT_EQ(installedProviders(), std::vector<std::string>{"Double"});
    EXPECT_EQ(listContainers("P", "R"), std::vector<std::string>{"P/R"});
    // An operation the double leaves out is the real one.
    ScopedEnv config("TESSAL_CONFIG", "/nonexistent/tessal.conf");
    EXPECT_FALSE(acquireContainer("Nobody", "HSM", "c"));
    EXPECT_EQ(lastError(), kNteKeysetNotDefined);

    setKeyStoreForTesting(std::nullopt);
    EXPECT_NE(installedProviders(), std::optional<std::vector<std::string>>(std::vector<std::string>{"Double"}));
}

}  // namespace
}  // namespace tessal::platform
