#include "tessal/member_table.h"

#include <algorithm>
#include <cctype>

namespace tessal {

namespace {

constexpr ArgInfo kSyncTime[] = {{"strURL", ArgKind::String}};
constexpr ArgInfo kDirectory[] = {{"strDirectoryName", ArgKind::String}};
constexpr ArgInfo kDestination[] = {{"strDestinationDirectory", ArgKind::String}};
constexpr ArgInfo kSaveFileXml[] = {{"strFileName", ArgKind::String}, {"pvarXml", ArgKind::VariantRef}};
constexpr ArgInfo kSignXml[] = {{"pvarXml", ArgKind::VariantRef},
                                {"bRaw", ArgKind::Long, true, 1},
                                {"strLogFile", ArgKind::String, true, 0, u""}};
constexpr ArgInfo kVerifyXmlSign[] = {{"pvarXml", ArgKind::VariantRef}};
constexpr ArgInfo kFileName[] = {{"strFileName", ArgKind::String}};
constexpr ArgInfo kWriteLog[] = {{"strPath", ArgKind::String}, {"strInfo", ArgKind::String}};
constexpr ArgInfo kWriteEventLog[] = {{"strInfo", ArgKind::String}, {"nSeverity", ArgKind::ULong}};
constexpr ArgInfo kConvert[] = {{"varIn", ArgKind::VariantRef}, {"strType", ArgKind::String, true, 0, u"2STR"}};
constexpr ArgInfo kCompress[] = {{"varIn", ArgKind::VariantRef}, {"strMethod", ArgKind::String, true, 0, u"GZIP"}};
constexpr ArgInfo kDispatchValue[] = {{"newVal", ArgKind::Dispatch}};
constexpr ArgInfo kStringValue[] = {{"newVal", ArgKind::String}};

using M = MemberKind;
using R = ResultKind;
const MemberInfo kMembers[] = {
    {1, "syncTime", M::Method, kSyncTime, R::String, "strTime", true},
    {2, "readNextFileXml", M::Method, kDirectory, R::String, "strXml", true},
    {3, "getProcessedFileName", M::Method, {}, R::String, "strFileName", true},
    {4, "moveProcessedFile", M::Method, kDestination, R::None, "", true},
    {5, "saveFileXml", M::Method, kSaveFileXml, R::None, "", true},
    {6, "signXml", M::Method, kSignXml, R::Variant, "varSignedXml", true},
    {7, "verifyXmlSign", M::Method, kVerifyXmlSign, R::String, "CertID", true},
    {8, "reset", M::Method, {}, R::None, "", false},
    {9, "readFile", M::Method, kFileName, R::String, "strFileContents", true},
    {10, "info", M::Method, {}, R::None, "", false},
    {11, "writeLog", M::Method, kWriteLog, R::None, "", false},
    {12, "writeEventLog", M::Method, kWriteEventLog, R::None, "", true},
    {13, "convert", M::Method, kConvert, R::Variant, "varOut", true},
    {14, "compress", M::Method, kCompress, R::Variant, "varCompressed", true},
    {15, "getFileTime", M::Method, kFileName, R::String, "strFileTime", true},
    {16, "onCardRemoved", M::PropertyPut, kDispatchValue, R::None, "", true},
    {17, "KeyContainer", M::PropertyPut, kStringValue, R::None, "", true},
    {18, "PkiDomain", M::PropertyPut, kStringValue, R::None, "", true},
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::span<const MemberInfo> memberTable() { return kMembers; }

const MemberInfo* findMember(std::string_view name) {
    for (const MemberInfo& m : kMembers) {
        if (equalsIgnoringCase(m.name, name)) return &m;
    }
    return nullptr;
}

const MemberInfo* findMember(std::int32_t dispid) {
    for (const MemberInfo& m : kMembers) {
        if (m.dispid == dispid) return &m;
    }
    return nullptr;
}

std::string_view argKindName(ArgKind kind) {
    switch (kind) {
        case ArgKind::String: return "BSTR";
        case ArgKind::Long: return "long";
        case ArgKind::ULong: return "unsigned long";
        case ArgKind::VariantRef: return "VARIANT*";
        case ArgKind::Dispatch: return "IDispatch*";
    }
    return "?";
}

}  // namespace tessal
