#include "xmlsig/message_header.h"

#include <gtest/gtest.h>

#include <string>

#include "xmlsig/xml_document.h"

namespace tessal::xml {
namespace {

MessageHeader headerOf(const std::string& input) {
    XmlDocument doc(input.data(), input.size());
    EXPECT_FALSE(doc.failed()) << doc.error().text.str();
    MessageHeader header;
    readMessageHeader(header, doc.tree());
    return header;
}

MessageHeaderEntry entry(const std::string& type, const std::string& sender, const std::string& id) {
    return {diag::Utf8Text(type), diag::Utf8Text(sender), diag::Utf8Text(id)};
}

const std::string kMsg =
    "<Msg Type='Invoice' Version='2'>"
    "<Header><Sender>S1</Sender><Receiver>R1</Receiver><MsgId>M-1</MsgId><System>Sys</System>"
    "<Date>2024-01-02</Date><Priority>high</Priority></Header>"
    "<Docs><Doc><Header><DocId>D1</DocId><Type>T1</Type><Sender>other</Sender></Header></Doc>"
    "<Doc><Header><Type>no id</Type></Header></Doc>"
    "<Doc><Header><DocId>D2</DocId></Header></Doc></Docs>"
    "</Msg>";

TEST(MessageHeader, ReadsEveryFieldAndDocEntries) {
    const MessageHeader h = headerOf(kMsg);
    EXPECT_EQ(h.Type.str(), "Invoice");
    EXPECT_EQ(h.Version.str(), "2");
    EXPECT_EQ(h.Sender.str(), "S1");
    EXPECT_EQ(h.Receiver.str(), "R1");
    EXPECT_EQ(h.MsgId.str(), "M-1");
    EXPECT_EQ(h.System.str(), "Sys");
    EXPECT_EQ(h.Date.str(), "2024-01-02");
    EXPECT_EQ(h.Priority.str(), "high");
    // Doc entries carry the message's sender; a Doc without DocId adds none.
    const std::vector<MessageHeaderEntry> expected{entry("T1", "S1", "D1"), entry("", "S1", "D2")};
    EXPECT_EQ(h.entries, expected);
}

TEST(MessageHeader, EDocWrappingGivesTheSameHeader) {
    const MessageHeader wrapped = headerOf("<EDoc><!-- c -->" + kMsg + "<Signature/></EDoc>");
    EXPECT_EQ(wrapped, headerOf(kMsg));
    EXPECT_FALSE(wrapped.MsgId.empty());
}

TEST(MessageHeader, ReferencesKeptOnlyWithoutDocs) {
    const std::string header =
        "<Header><Sender>S</Sender>"
        "<Reference><Sender>A</Sender><MsgId>1</MsgId></Reference>"
        "<Reference><MsgId>2</MsgId></Reference>"
        "<Reference><Sender>B</Sender></Reference></Header>";
    const MessageHeader refs = headerOf("<Msg>" + header + "</Msg>");
    const std::vector<MessageHeaderEntry> expected{entry("", "A", "1"), entry("", "B", "")};
    EXPECT_EQ(refs.entries, expected);

    const MessageHeader both =
        headerOf("<Msg>" + header + "<Docs><Doc><Header><DocId>D</DocId></Header></Doc></Docs></Msg>");
    const std::vector<MessageHeaderEntry> docsOnly{entry("", "S", "D")};
    EXPECT_EQ(both.entries, docsOnly);

    // An empty Docs list still drops the references.
    EXPECT_TRUE(headerOf("<Msg>" + header + "<Docs/></Msg>").entries.empty());
}

TEST(MessageHeader, DocsBeforeHeaderIsNotFound) {
    const MessageHeader h = headerOf(
        "<Msg><Docs><Doc><Header><DocId>D</DocId></Header></Doc></Docs>"
        "<Header><Sender>S</Sender><Reference><Sender>A</Sender></Reference></Header></Msg>");
    const std::vector<MessageHeaderEntry> expected{entry("", "A", "")};
    EXPECT_EQ(h.entries, expected);
}

TEST(MessageHeader, TextsAreUntrimmedAndLaterElementsOverwrite) {
    const MessageHeader h = headerOf(
        "<Msg><Header><Sender> a </Sender><Sender>b</Sender><Receiver/><Receiver>r</Receiver>"
        "<Date>d</Date><Date/><Priority><x/></Priority></Header></Msg>");
    EXPECT_EQ(h.Sender.str(), "b");
    EXPECT_EQ(h.Receiver.str(), "r");
    EXPECT_EQ(h.Date.str(), "d");  // an element without text leaves the field
    EXPECT_TRUE(h.Priority.empty());
    EXPECT_EQ(headerOf("<Msg><Header><MsgId> m\n</MsgId></Header></Msg>").MsgId.str(), " m\n");
}

TEST(MessageHeader, NamesMatchByLocalNameExactly) {
    const MessageHeader h =
        headerOf("<e:EDoc xmlns:e='urn:e'><m:Msg xmlns:m='urn:m' Type='T'><m:Header><m:MsgId>1</m:MsgId>"
                 "<msgid>2</msgid></m:Header></m:Msg></e:EDoc>");
    EXPECT_EQ(h.Type.str(), "T");
    EXPECT_EQ(h.MsgId.str(), "1");
}

TEST(MessageHeader, DocumentWithoutMsgLeavesEverythingEmpty) {
    EXPECT_EQ(headerOf("<Invoice><Header><Sender>S</Sender></Header></Invoice>"), MessageHeader{});
    // Msg deeper than a child of the root is not looked for.
    EXPECT_EQ(headerOf("<a><b><Msg Type='T'/></b></a>"), MessageHeader{});
    MessageHeader filled = headerOf(kMsg);
    readMessageHeader(filled, nullptr);
    EXPECT_EQ(filled, MessageHeader{});
}

TEST(MessageHeaderJson, RendersAllFieldsInOrder) {
    const std::string json = messageHeaderJson(headerOf(kMsg));
    EXPECT_EQ(json,
              "{\"System\":\"Sys\",\"Type\":\"Invoice\",\"Sender\":\"S1\",\"Receiver\":\"R1\",\"MsgId\":\"M-1\","
              "\"Version\":\"2\",\"Date\":\"2024-01-02\",\"Priority\":\"high\",\"entries\":["
              "{\"type\":\"T1\",\"sender\":\"S1\",\"id\":\"D1\"},{\"type\":\"\",\"sender\":\"S1\",\"id\":\"D2\"}]}");
    EXPECT_EQ(messageHeaderJson(MessageHeader{}),
              "{\"System\":\"\",\"Type\":\"\",\"Sender\":\"\",\"Receiver\":\"\",\"MsgId\":\"\",\"Version\":\"\","
              "\"Date\":\"\",\"Priority\":\"\",\"entries\":[]}");
}

TEST(MessageHeaderJson, EscapesWhatJsonNeedsAndKeepsUtf8) {
    MessageHeader h;
    h.System = diag::Utf8Text(std::string("q\"b\\s/\r\n\t\x01\x1f\x7f ąž", 17));
    const std::string json = messageHeaderJson(h);
    EXPECT_NE(json.find("\"System\":\"q\\\"b\\\\s/\\r\\n\\t\\u0001\\u001f\x7f ąž\""), std::string::npos) << json;
    EXPECT_EQ(json.find('\n'), std::string::npos);
}

}  // namespace
}  // namespace tessal::xml
