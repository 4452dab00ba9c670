#pragma once
// The eighteen members of the signing interface as hosts dispatch them: by
// name (case-insensitive) or by DISPID, with argument kinds and defaults.
#include <cstdint>
#include <span>
#include <string_view>

namespace tessal {

enum class ArgKind { String, Long, ULong, VariantRef, Dispatch };
enum class MemberKind { Method, PropertyPut };
enum class ResultKind { None, String, Variant };

struct ArgInfo {
    std::string_view name;
    ArgKind kind;
    bool optional = false;
    std::int32_t defaultLong = 0;
    std::u16string_view defaultString;
};

struct MemberInfo {
    std::int32_t dispid;
    std::string_view name;
    MemberKind kind;
    std::span<const ArgInfo> args;
    ResultKind result;
    std::string_view resultName;
    bool gated;
};

std::span<const MemberInfo> memberTable();
const MemberInfo* findMember(std::string_view name);
const MemberInfo* findMember(std::int32_t dispid);

std::string_view argKindName(ArgKind kind);

}  // namespace tessal
