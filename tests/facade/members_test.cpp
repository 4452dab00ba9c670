
#include <thread>

#include "crypto/key_selection.h"
#include "diagnostics/sign_error.h"
#include "diagnostics/utf8_text.h"
#include "facade/callback_lock.h"
#include "facade/document_bytes.h"
#include "facade/facade_fixture.h"
#include "facade/member_guard.h"
#include "pki/store_lock.h"
#include "tessal/member_table.h"
#include "tessal/tessal.h"

using namespace tessal;
using namespace tessal::test;

namespace {

class DialogHost : public TestHost, public UiSurface {
public:
    std::optional<std::u16string> answer;
    int asked = 0;
    UiSurface* ui() override { return this; }
    std::optional<std::u16string> chooseSaveFileName(std::u16string_view title, std::u16string_view,
                                                    std::u16string_view pattern) override {
        ++asked;
        EXPECT_EQ(title, u"Išsaugoti XML bylą");
        EXPECT_EQ(pattern, u"*.xml");
        return answer;
    }
};

// An address in the never-mapped first page: a real access violation, and not a
// null-pointer store, which the undefined-behaviour sanitizer would stop first.
int* volatile nowhere = reinterpret_cast<int*>(64);

// Takes the error information the C interface holds: it must come from the
// component and say DESCRIPTION.
void expectErrorInfoTaken(const char* description) {
    char* source = nullptr;
    char* text = nullptr;
    ASSERT_EQ(tessal_take_error_info(&source, &text), 1);
    EXPECT_STREQ(source, "Tessal.Sign.1");
    EXPECT_STREQ(text, description);
    tessal_free(source);
    tessal_free(text);
}

}  // namespace

TEST_F(FacadeTest, GuardTurnsFaultsAndExceptionsIntoMessages) {
    facade::SignState state;
    EXPECT_EQ(facade::guardMember(state, [] { *nowhere = 1; return hr::S_OK; }), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription(), u"Nenumatyta operacinės sistemos klaida (C0000005)");
    EXPECT_EQ(facade::guardMember(state, []() -> HResult { throw std::runtime_error("x"); }), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription(), u"Nenumatyta klaida");
    EXPECT_EQ(facade::guardMember(state, []() -> HResult { throw diag::SignError(u"vidinė"); }), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription(), u"vidinė");
    // The guard keeps working after a fault.
    EXPECT_EQ(facade::guardMember(state, [] { return hr::S_OK; }), hr::S_OK);
    EXPECT_TRUE(logHas("Nenumatyta operacinės sistemos klaida (C0000005)"));
}

TEST_F(FacadeTest, TrappedFaultGivesBackTheProcessWideLocksTakenInsideIt) {
    const auto freeForOthers = [](auto& lock) {
        bool taken = false;
        std::thread([&] {
            taken = lock.try_lock();
            if (taken) lock.unlock();
        }).join();
        return taken;
    };
    facade::SignState state;
    facade::callbackLock().lock();  // taken before the member: stays held
    EXPECT_EQ(facade::guardMember(state,
                                  [] {
                                      const std::lock_guard store(pki::storeLock());
                                      const std::lock_guard certificates(pki::certificateLock());
                                      const std::lock_guard again(pki::certificateLock());
                                      const std::lock_guard selection(crypto::selectionLock());
                                      *nowhere = 1;
                                      return hr::S_OK;
                                  }),
              hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription(), u"Nenumatyta operacinės sistemos klaida (C0000005)");
    EXPECT_TRUE(freeForOthers(pki::storeLock()));
    EXPECT_TRUE(freeForOthers(pki::certificateLock()));
    EXPECT_TRUE(freeForOthers(crypto::selectionLock()));
    EXPECT_FALSE(freeForOthers(facade::callbackLock()));
    facade::callbackLock().unlock();
    // A later member of another object, which takes the store lock, answers.
    Sign sign(host);
    EXPECT_EQ(sign.putPkiDomain(u"a.example"), hr::S_OK);
}

TEST_F(FacadeTest, ReportedFailuresAreTracedAndCarryTheProgId) {
    facade::SignState state;
    // A finished message is never read as a format.
    EXPECT_EQ(facade::reportFailure(state, std::u16string_view(u"100% %s %d")), hr::DISP_E_EXCEPTION);
    const auto info = takeErrorInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->source, u"Tessal.Sign.1");
    EXPECT_EQ(info->description, u"100% %s %d");
    EXPECT_TRUE(logHas("100% %s %d"));
}

TEST(DocumentBytes, StringsBytesAndEverythingElse) {
    Variant s = Variant::string(std::u16string(u"ą\0b", 3));
    EXPECT_EQ(*facade::documentBytes(&s), "\xC4\x85");
    Variant b = Variant::bytes({0, 1, 2});
    EXPECT_EQ(*facade::documentBytes(&b), std::string("\0\1\2", 3));
    Variant byRef = Variant::byReference(Variant::string(u"x"));
    Variant number = Variant::int32(5);
    Variant empty;
    EXPECT_FALSE(facade::documentBytes(&byRef));
    EXPECT_FALSE(facade::documentBytes(&number));
    EXPECT_FALSE(facade::documentBytes(&empty));
    Variant none = Variant::string(u"");
    EXPECT_EQ(facade::requireDocument(&none).failure().message, u"Bandymas išsaugoti tuščią dokumentą");
    EXPECT_EQ(facade::requireDocument(&number).failure().message, u"Klaidingas duomenų formatas");
}

TEST_F(FacadeTest, DispatchCoercesArgumentsAndAppliesDefaults) {
    Sign sign(host);
    Variant result;
    std::vector<Argument> args{Variant::string(u"ąč")};
    // The default type of convert is "2STR": a string comes back unchanged.
    EXPECT_EQ(sign.invoke("CONVERT", args, result), hr::S_OK);
    EXPECT_EQ(result.text(), u"ąč");
    args = {Variant::string(u"ąč"), Variant::string(u"2BA")};
    EXPECT_EQ(sign.invoke(13, args, result), hr::S_OK);
    EXPECT_EQ(result.data(), (std::vector<std::uint8_t>{0xC4, 0x85, 0xC4, 0x8D}));
    // A number where a string is declared is converted as the runtime does.
    args = {Variant::int32(12)};
    EXPECT_EQ(sign.invoke("readFile", args, result), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription(), u"Klaida skaitant \"12\" bylą");
    args = {Variant::null()};
    EXPECT_EQ(sign.invoke("readFile", args, result), hr::DISP_E_TYPEMISMATCH);
    args = {};
    EXPECT_EQ(sign.invoke("readFile", args, result), hr::DISP_E_PARAMNOTFOUND);
    args = {Variant::string(u"a"), Variant::string(u"b")};
    EXPECT_EQ(sign.invoke("readFile", args, result), hr::DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(sign.invoke("noSuchMember", args, result), hr::DISP_E_UNKNOWNNAME);
    EXPECT_EQ(sign.invoke(99, args, result), hr::DISP_E_MEMBERNOTFOUND);
}

TEST(MemberTable, EighteenMembersWithTheirDispids) {
    const auto table = memberTable();
    ASSERT_EQ(table.size(), 18u);
    for (std::size_t i = 0; i < table.size(); ++i) EXPECT_EQ(table[i].dispid, static_cast<int>(i + 1));
    EXPECT_FALSE(findMember("reset")->gated);
    EXPECT_FALSE(findMember("info")->gated);
    EXPECT_FALSE(findMember("writeLog")->gated);
    EXPECT_EQ(findMember("KeyContainer")->kind, MemberKind::PropertyPut);
    EXPECT_EQ(findMember(6)->args[1].defaultLong, 1);
}

TEST_F(FacadeTest, KeyContainerTracesOnlyChanges) {
    Sign sign(host);
    EXPECT_EQ(sign.putKeyContainer(u""), hr::S_OK);
    EXPECT_EQ(sign.putKeyContainer(u"signer"), hr::S_OK);
    EXPECT_EQ(sign.putKeyContainer(u"signer"), hr::S_OK);
    EXPECT_EQ(sign.putKeyContainer(u""), hr::S_OK);
    EXPECT_EQ(sign.putKeyContainer(u""), hr::S_OK);
    int set = 0, cleared = 0;
    for (const std::string& line : logMessages()) {
        if (line == "Įvestas naujas kriptografinių raktų konteinerio pavadinimas : signer") ++set;
        if (line == "Panaikintas kriptografinių raktų konteinerio pavadinimas") ++cleared;
    }
    EXPECT_EQ(set, 1);
    EXPECT_EQ(cleared, 1);
}

TEST_F(FacadeTest, WriteLogAppendsCallerTextOnceAndIsRefusedInUnapprovedPages) {
    const std::string target = dir.file("caller.log");
    Sign sign(host);
    EXPECT_EQ(sign.writeLog(std::u16string(target.begin(), target.end()), u"pirma"), hr::S_OK);
    EXPECT_EQ(sign.writeLog(std::u16string(target.begin(), target.end()), u"antra\n"), hr::S_OK);
    EXPECT_EQ(readWholeFile(target), "pirma\r\nantra\n");
    EXPECT_EQ(sign.writeLog(u"", u"x"), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription(), u"Neperduotas bylos pavadinimas");
    EXPECT_EQ(sign.writeLog(u"/x", u""), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription(), u"Bandymas išsaugoti tuščią dokumentą");
    EXPECT_EQ(sign.writeLog(u"/no/such/dir/x.log", u"x"), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription(), u"Klaida išsaugant bylą \"/no/such/dir/x.log\" (2)");

    const std::string shell = dir.file("profile");
    auto page = inPage("https://evil.example/");
    page->setInterfaceSafetyOptions(iid::IDispatch, 1, 1);
    EXPECT_EQ(page->writeLog(std::u16string(shell.begin(), shell.end()), u"rm -rf ~"), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription(), u"Neleistina komponentės veikimo aplinka");
    EXPECT_FALSE(std::filesystem::exists(shell));
    // reset and info answer in a refused page too.
    EXPECT_NE(page->reset(), hr::DISP_E_EXCEPTION);
}

TEST_F(FacadeTest, SaveFileXmlAsksTheHostForANameAndAddsTheExtension) {
    auto dialog = std::make_shared<DialogHost>();
    Sign sign(dialog);
    Variant doc = Variant::string(u"<a>ž</a>");
    // Cancelled: untraced failure.
    EXPECT_EQ(sign.saveFileXml(u"", &doc), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription(), u"Neperduotas bylos pavadinimas");
    EXPECT_FALSE(logHas("Neperduotas bylos pavadinimas"));
    const std::string chosen = dir.file("saved");
    dialog->answer = std::u16string(chosen.begin(), chosen.end());
    EXPECT_EQ(sign.saveFileXml(u"", &doc), hr::S_OK);
    EXPECT_EQ(readWholeFile(chosen + ".xml"), "<a>\xC5\xBE</a>");
    EXPECT_EQ(dialog->asked, 2);

    Variant empty = Variant::string(u"");
    const int repaints = dialog->repaints;
    EXPECT_EQ(sign.saveFileXml(std::u16string(chosen.begin(), chosen.end()), &empty), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription(), u"Bandymas išsaugoti tuščią dokumentą");
    EXPECT_EQ(dialog->repaints, repaints + 1);
}

TEST_F(FacadeTest, HostWithoutUserInterfaceAnswersAsCancelled) {
    Sign sign(host);
    Variant doc = Variant::string(u"<a/>");
    EXPECT_EQ(sign.saveFileXml(u"", &doc), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription(), u"Neperduotas bylos pavadinimas");
}

TEST_F(FacadeTest, CompressChecksTheDocumentBeforeTheMethod) {
    Sign sign(host);
    Variant out;
    Variant number = Variant::real(1.5);
    EXPECT_EQ(sign.compress(&number, u"deflate", out), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription(), u"Klaidingas duomenų formatas");
    Variant doc = Variant::string(u"duomenys");
    EXPECT_EQ(sign.compress(&doc, u"deflate", out), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription(), u"Nepalaikomas duomenų suspaudimo metodas \"deflate\"");
    EXPECT_EQ(sign.compress(&doc, u"GzIp", out), hr::S_OK);
    ASSERT_GE(out.data().size(), 18u);
    EXPECT_EQ(out.data()[0], 0x1F);
    EXPECT_EQ(out.data()[9], 0x0B);
}

TEST_F(FacadeTest, SigningWithoutAnyKeySaysNoCertificateWasFound) {
    Sign sign(host);
    Variant out;
    Variant empty = Variant::string(u"");
    // An empty document is refused before any key is looked for.
    EXPECT_EQ(sign.signXml(&empty, 1, u"", out), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription(), u"Bandymas išsaugoti tuščią dokumentą");

    // No container name and no card: the search ends without a candidate.
    Variant doc = Variant::string(u"<a/>");
    EXPECT_EQ(sign.signXml(&doc, 1, u"", out), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription().rfind(u"Nerasta nei vieno sertifikato, atitinkančio sistemos reikalavimus.\r\n", 0), 0u)
        << diag::utf8Encode(lastDescription());
    EXPECT_TRUE(out.is(VarType::Empty));
}

TEST_F(FacadeTest, VerifyReportsTheRunsRecordAndInfoShowsWhatIsHeld) {
    Sign sign(host);
    // Nothing held yet: info shows nothing and still answers S_OK.
    EXPECT_EQ(sign.info(), hr::S_OK);

    Variant unsigned_ = Variant::string(u"<a/>");
    std::u16string subject;
    EXPECT_EQ(sign.verifyXmlSign(&unsigned_, subject), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription(), u"XML dokumentas nepasirašytas : 70410050;\r\n");
    EXPECT_TRUE(subject.empty());

    Variant empty = Variant::string(u"");
    EXPECT_EQ(sign.verifyXmlSign(&empty, subject), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription(), u"Bandymas išsaugoti tuščią dokumentą");
    Variant number = Variant::int32(5);
    EXPECT_EQ(sign.verifyXmlSign(&number, subject), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription(), u"Klaidingas duomenų formatas");

    EXPECT_EQ(sign.reset(), hr::S_OK);
    EXPECT_EQ(sign.info(), hr::S_OK);
}

TEST_F(FacadeTest, CInterfaceInvokesMembersAndHandsOverErrorInformation) {
    tessal_sign* sign = nullptr;
    ASSERT_EQ(tessal_sign_create(&sign), 0);
    const char16_t text[] = u"ąč";
    tessal_variant args[2] = {};
    args[0].type = TESSAL_VT_STRING;
    args[0].str = reinterpret_cast<const uint16_t*>(text);
    args[0].str_len = 2;
    args[1].type = TESSAL_VT_MISSING;
    tessal_variant result{};
    EXPECT_EQ(tessal_sign_invoke(sign, "compress", args, 2, &result), 0);
    EXPECT_EQ(result.type, TESSAL_VT_BYTES);
    ASSERT_GT(result.bytes_len, 18u);
    EXPECT_EQ(result.bytes[0], 0x1F);
    tessal_variant_clear(&result);

    args[0].type = TESSAL_VT_INT;
    EXPECT_EQ(tessal_sign_invoke_dispid(sign, 14, args, 1, &result), hr::DISP_E_EXCEPTION);
    ASSERT_NO_FATAL_FAILURE(expectErrorInfoTaken("Klaidingas duomenų formatas"));
    char* source = nullptr;
    char* description = nullptr;
    EXPECT_EQ(tessal_take_error_info(&source, &description), 0);  // taken once only
    tessal_sign_release(sign);

    ASSERT_EQ(tessal_sign_create_in_page("https://evil.example/", 3, &sign), 0);
    EXPECT_EQ(tessal_sign_set_interface_safety_options(sign, 1, 1), hr::E_FAIL);
    tessal_sign_release(sign);
    // A byte that is not UTF-8 does not cut the address short at an approved host.
    ASSERT_EQ(tessal_sign_create_in_page("https://nk.example\x80.evil.example/", 3, &sign), 0);
    EXPECT_EQ(tessal_sign_set_interface_safety_options(sign, 1, 1), hr::E_FAIL);
    tessal_sign_release(sign);
}

TEST_F(FacadeTest, CInterfaceAnswersAThrowInsideTheComponentWithAStatus) {
    tessal_sign* sign = nullptr;
    ASSERT_EQ(tessal_sign_create(&sign), 0);
    // A length no string can have: converting the argument throws inside the component.
    const char16_t text[] = u"x";
    tessal_variant arg{};
    arg.type = TESSAL_VT_STRING;
    arg.str = reinterpret_cast<const uint16_t*>(text);
    arg.str_len = SIZE_MAX / 2;
    tessal_variant result{};
    EXPECT_EQ(tessal_sign_invoke(sign, "convert", &arg, 1, &result), hr::E_UNEXPECTED);
    EXPECT_EQ(result.type, TESSAL_VT_EMPTY);
    ASSERT_NO_FATAL_FAILURE(expectErrorInfoTaken("Nenumatyta klaida"));
    // The object still answers.
    EXPECT_EQ(tessal_sign_invoke(sign, "reset", nullptr, 0, nullptr), hr::S_OK);
    tessal_sign_release(sign);
}

TEST_F(FacadeTest, ResetAnswersWithoutAResultAndInRefusedPages) {
    Sign sign(host);
    const int repaints = host->repaints;
    EXPECT_EQ(sign.reset(), hr::S_OK);
    EXPECT_EQ(host->repaints, repaints);  // nothing to forget, nothing to redraw
    auto page = inPage("https://evil.example/");
    page->setInterfaceSafetyOptions(iid::IDispatch, 1, 1);
    EXPECT_EQ(page->reset(), hr::S_OK);
}

TEST_F(FacadeTest, SyncTimeWithoutDomainsFailsWithTheClientsRecord) {
    Sign sign(host);
    std::u16string time;
    EXPECT_EQ(sign.syncTime(u"http://anything.example/pki/time", time), hr::DISP_E_EXCEPTION);
    const std::u16string description = lastDescription();
    EXPECT_NE(description.find(u" : 73001091;\r\n"), std::u16string::npos) << diag::utf8Encode(description);
}

TEST_F(FacadeTest, ProcessedNameThatIsNotValidTextLeadsBackToTheSameFile) {
    const std::filesystem::path start = std::filesystem::current_path();
    std::filesystem::create_directory(dir.file("in"));
    const std::string name = "\xFF\xC4.xml";  // not UTF-8
    writeWholeFile(dir.file("in/" + name), "<raw/>");
    Sign sign(host);
    std::u16string xml, picked, text, time;
    ASSERT_EQ(sign.readNextFileXml(diag::utf16Of(dir.file("in")), xml), hr::S_OK);
    EXPECT_EQ(xml, u"<raw/>");
    ASSERT_EQ(sign.getProcessedFileName(picked), hr::S_OK);
    // The answer names the file: the file members take it back unchanged.
    EXPECT_EQ(sign.readFile(picked, text), hr::S_OK);
    EXPECT_EQ(text, u"<raw/>");
    EXPECT_EQ(sign.getFileTime(picked, time), hr::S_OK);
    std::filesystem::create_directory(dir.file("done"));
    EXPECT_EQ(sign.moveProcessedFile(diag::utf16Of(dir.file("done"))), hr::S_OK);
    EXPECT_EQ(readWholeFile(dir.file("done/" + name)), "<raw/>");
    std::filesystem::current_path(start);
}
