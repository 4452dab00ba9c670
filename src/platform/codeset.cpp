#include "platform/codeset.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace tessal::platform {

namespace {

std::string codesetName() {
    const char* name = nl_langinfo(CODESET);
    return name ? name : "";
}

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts `in`; an input sequence that cannot be converted is replaced by
    // `replacement` and skipped by `step` bytes.
    std::string run(const char* in, std::size_t size, std::string_view replacement, std::size_t step) {
        std::string out;
        std::vector<char> buf(4096);
        char* src = const_cast<char*>(in);
        std::size_t left = size;
        while (left > 0) {
            char* dst = buf.data();
            std::size_t room = buf.size();
            const std::size_t r = iconv(cd_, &src, &left, &dst, &room);
            out.append(buf.data(), buf.size() - room);
            if (r == static_cast<std::size_t>(-1)) {
                if (errno == E2BIG) continue;
                out.append(replacement);
                const std::size_t skip = left < step ? left : step;
                src += skip;
                left -= skip;
                iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            }
        }
        return out;
    }

private:
    iconv_t cd_;
};

}  // namespace

bool narrowCodesetIsUtf8() {
    const std::string name = codesetName();
    return name.empty() || name == "UTF-8" || name == "utf8" || name == "ANSI_X3.4-1968";
}

std::optional<std::string> utf16ToNarrow(std::u16string_view text) {
    Converter c(codesetName().c_str(), "UTF-16LE");
    if (!c.ok()) return std::nullopt;
    std::string le;
    le.reserve(text.size() * 2);
    for (char16_t u : text) {
        le.push_back(static_cast<char>(u & 0xFF));
        le.push_back(static_cast<char>(u >> 8));
    }
    return c.run(le.data(), le.size(), "?", 2);
}

std::optional<std::u16string> narrowToUtf16(std::string_view text) {
    Converter c("UTF-16LE", codesetName().c_str());
    if (!c.ok()) return std::nullopt;
    const std::string le = c.run(text.data(), text.size(), std::string("?\0", 2), 1);
    std::u16string out;
    out.reserve(le.size() / 2);
    for (std::size_t i = 0; i + 1 < le.size(); i += 2) {
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(le[i]) | (static_cast<unsigned char>(le[i + 1]) << 8)));
    }
    return out;
}

}  // namespace tessal::platform
