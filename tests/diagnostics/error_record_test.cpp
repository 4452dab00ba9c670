#include <gtest/gtest.h>

#include "diagnostics/error_record.h"
#include "diagnostics/message_catalogue.h"
#include "platform/last_error.h"

using namespace tessal::diag;
using tessal::platform::lastError;
using tessal::platform::setLastError;

namespace {

std::string utf8(std::u16string_view s) { return utf8Encode(s); }

TEST(ErrorEntry, FirstLineCarriesTheCodeAndTheSecondTheSystemText) {
    ErrorRecord r;
    recordErrorCode(r, 0x80090016u, 3, 1, {kCategoryCrypto});
    EXPECT_EQ(r.lastError, 0x80090016u);
    EXPECT_EQ(r.code, 70003001);
    EXPECT_EQ(r.text.str(), utf8(u"Kriptografinių funkcijų paketo klaida kuriant duomenų santraukos (HASH) objektą : 70003001\r\n"
                                 u"Operacinės sistemos grąžinta klaida (80090016): The key container does not exist.\r\n"
                                 u";\r\n"));
}

TEST(ErrorEntry, WithoutAnOsErrorTheEntryIsOneLine) {
    ErrorRecord r;
    recordErrorCode(r, 0, 3001, 98, {u"https://pki.nk.example/pki/x", 404});
    EXPECT_EQ(r.text.str(), utf8(u"Kreipinys adresu \"https://pki.nk.example/pki/x\" grąžino neleistiną atsako kodą (404) : "
                                 u"73001098;\r\n"));
}

TEST(ErrorEntry, NarrowArgumentsAndUnknownCodesKeepTheirFrames) {
    ErrorRecord r;
    recordErrorCode(r, 0x80100050u, 401, 57, {"SignedInfo"});
    EXPECT_EQ(r.text.str(), utf8(u"Nerastas pasirašyto dokumento XML elementas \"SignedInfo\". Nėra galimybių pilnai patikrinti "
                                 u"XML parašą : 70401057\r\nOperacinės sistemos grąžintas klaidos kodas - 80100050;\r\n"));
}

TEST(ErrorEntry, IndexOutsideTheCatalogueGivesTheUnknownFailureText) {
    for (int index : {99, 150, -1}) {
        ErrorRecord r;
        recordErrorCode(r, 0, 5, index, {u"ignored"});
        EXPECT_EQ(r.text.str(), utf8(u"Nenumatyta kriptografinių funkcijų paketo klaida : ") +
                                    std::to_string(errorCode(5, index)) + ";\r\n")
            << index;
    }
}

TEST(ErrorEntry, RecordErrorTakesAndClearsTheThreadsLastError) {
    setLastError(2);
    ErrorRecord r;
    recordError(r, 7, 94);
    EXPECT_EQ(r.lastError, 2u);
    EXPECT_EQ(lastError(), 0u);
    EXPECT_EQ(r.text.str(), utf8(u"Neperduotas XML dokumentas : 70007094\r\n"
                                 u"Operacinės sistemos grąžinta klaida (2): No such file or directory.\r\n;\r\n"));
    // With the last error cleared, the next entry has no system line.
    recordError(r, 7, 50);
    EXPECT_EQ(r.lastError, 0u);
    EXPECT_EQ(r.text.str().find(utf8(u"XML dokumentas nepasirašytas : 70007050;\r\n")), 0u);
}

TEST(ErrorRecordText, SameEntryIsKeptOnceWhileCodesFollowTheLatestCall) {
    ErrorRecord r;
    recordErrorCode(r, 0, 10, 30);
    recordErrorCode(r, 5, 11, 56);
    const std::string before = r.text.str();
    recordErrorCode(r, 0, 10, 30);
    EXPECT_EQ(r.text.str(), before);
    EXPECT_EQ(r.code, 70010030);
    EXPECT_EQ(r.lastError, 0u);
    // Newest first: the second entry stands in front of the first.
    EXPECT_EQ(before.find(utf8(u"XML pasirašytas dokumentas neleistinai modifikuotas")), 0u);
}

TEST(ErrorRecordText, MergePutsTheCalleesTextInFrontAndTakesItsCodes) {
    ErrorRecord callee;
    recordErrorCode(callee, 0x8010000Cu, 2001, 90, {u"Reader 0"});
    ErrorRecord caller;
    recordErrorCode(caller, 0, 301, 94);
    const std::string callerOwn = caller.text.str();

    caller.merge(callee);
    EXPECT_EQ(caller.code, callee.code);
    EXPECT_EQ(caller.lastError, 0x8010000Cu);
    EXPECT_EQ(caller.text.str(), callee.text.str() + callerOwn);

    // An entry the caller adds after the merge stands first.
    recordErrorCode(caller, 0, 401, 55);
    EXPECT_EQ(caller.text.str().find(utf8(u"Pasirašiusio asmens sertifikato tikrinimo klaida : 70401055;\r\n")), 0u);
    EXPECT_NE(caller.text.str().find(callee.text.str()), std::string::npos);
}

TEST(ErrorRecordText, ManyEntriesStayNewestFirstWithOneCopyEach) {
    // A document with tens of thousands of failing references records as
    // many entries; each append must not rescan or move the whole text.
    constexpr int kEntries = 40000;
    ErrorRecord r;
    for (int i = 0; i < kEntries; ++i) {
        recordErrorCode(r, 0, 420, 57, {std::to_string(i)});
        recordErrorCode(r, 0, 420, 57, {std::to_string(i / 2)});  // every value is recorded again
    }
    const std::string& text = r.text.str();
    const auto entry = [](int value) {
        return utf8Encode(formatEntry(0, errorCode(420, 57), 57, {std::to_string(value)}));
    };
    EXPECT_EQ(text.find(entry(kEntries - 1)), 0u);
    EXPECT_EQ(text.rfind(entry(0)), text.size() - entry(0).size());
    std::size_t count = 0;
    for (std::size_t at = text.find(";\r\n"); at != std::string::npos; at = text.find(";\r\n", at + 1)) ++count;
    EXPECT_EQ(count, static_cast<std::size_t>(kEntries));
    EXPECT_EQ(r.text.size(), text.size());
}

TEST(ErrorRecordText, AssembledTextKnowsItsEntries) {
    ErrorRecord r;
    recordErrorCode(r, 0, 10, 30);
    ErrorRecord copy{0, 0, Utf8Text(r.text.str())};
    recordErrorCode(copy, 0, 10, 30);
    EXPECT_EQ(copy.text, r.text);
}

}  // namespace
