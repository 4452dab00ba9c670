#include "display/window_request.h"

#include <limits>

namespace tessal::display {

namespace {

constexpr std::string_view kRequestMark = "TUI1";

class Writer {
public:
    void u8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
    void u32(std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) out_.push_back(static_cast<char>((v >> shift) & 0xFF));
    }
    void i32(int v) { u32(static_cast<std::uint32_t>(v)); }
    void text(std::u16string_view units) {
        u32(static_cast<std::uint32_t>(units.size()));
        for (char16_t c : units) {
            out_.push_back(static_cast<char>(c & 0xFF));
            out_.push_back(static_cast<char>(c >> 8));
        }
    }
    void bytes(const std::vector<std::uint8_t>& b) {
        u32(static_cast<std::uint32_t>(b.size()));
        out_.append(reinterpret_cast<const char*>(b.data()), b.size());
    }
    std::string take() { return std::move(out_); }

private:
    std::string out_;
};

// Reads fields off a body; after the first field that does not fit every
// later read fails too.
class Reader {
public:
    explicit Reader(std::string_view in) : in_(in) {}
    bool ok() const { return ok_; }
    std::size_t left() const { return in_.size() - at_; }

    std::uint8_t u8() {
        if (!need(1)) return 0;
        return static_cast<std::uint8_t>(in_[at_++]);
    }
    std::uint32_t u32() {
        if (!need(4)) return 0;
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<std::uint8_t>(in_[at_++]);
        return v;
    }
    int i32() { return static_cast<int>(static_cast<std::int32_t>(u32())); }
    std::u16string text() {
        const std::uint32_t units = u32();
        if (!ok_ || units > left() / 2) return fail<std::u16string>();
        std::u16string out(units, u'\0');
        for (char16_t& c : out) {
            const auto low = static_cast<std::uint8_t>(in_[at_++]);
            const auto high = static_cast<std::uint8_t>(in_[at_++]);
            c = static_cast<char16_t>(low | (high << 8));
        }
        return out;
    }
    std::vector<std::uint8_t> bytes() {
        const std::uint32_t length = u32();
        if (!ok_ || length > left()) return fail<std::vector<std::uint8_t>>();
        const auto* start = reinterpret_cast<const std::uint8_t*>(in_.data() + at_);
        at_ += length;
        return std::vector<std::uint8_t>(start, start + length);
    }
    // A count of items each at least `minBytes` long: more than the bytes
    // left could hold fails before anything is reserved for them.
    std::uint32_t count(std::size_t minBytes) {
        const std::uint32_t n = u32();
        if (ok_ && n > left() / minBytes) return fail<std::uint32_t>();
        return n;
    }

private:
    bool need(std::size_t n) {
        if (ok_ && n <= left()) return true;
        ok_ = false;
        return false;
    }
    template <typename T>
    T fail() {
        ok_ = false;
        return T{};
    }

    std::string_view in_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

// The smallest encoded row: kind, seven 4-byte fields and five empty texts.
constexpr std::size_t kMinRowBytes = 1 + 1 + 5 * 4 + 5 * 4;
constexpr std::size_t kMinObjectBytes = 8;

void writeRow(Writer& w, const SummaryRow& row) {
    w.u8(static_cast<std::uint8_t>(row.kind));
    w.i32(row.x);
    w.text(row.text);
    w.text(row.label);
    w.text(row.value);
    w.u8(row.good ? 1 : 0);
    w.i32(row.certificateTarget);
    w.i32(row.crlTarget);
    w.text(row.certificateCaption);
    w.text(row.crlCaption);
    w.i32(row.gapBefore);
}

std::optional<SummaryRow> readRow(Reader& r) {
    SummaryRow row;
    const std::uint8_t kind = r.u8();
    if (kind > static_cast<std::uint8_t>(RowKind::Close)) return std::nullopt;
    row.kind = static_cast<RowKind>(kind);
    row.x = r.i32();
    row.text = r.text();
    row.label = r.text();
    row.value = r.text();
    const std::uint8_t good = r.u8();
    if (good > 1) return std::nullopt;
    row.good = good == 1;
    row.certificateTarget = r.i32();
    row.crlTarget = r.i32();
    row.certificateCaption = r.text();
    row.crlCaption = r.text();
    row.gapBefore = r.i32();
    if (!r.ok()) return std::nullopt;
    return row;
}

}  // namespace

std::string encodeRequest(const WindowRequest& request) {
    Writer body;
    body.u8(static_cast<std::uint8_t>(request.task));
    body.u32(static_cast<std::uint32_t>(request.rows.size()));
    for (const SummaryRow& row : request.rows) writeRow(body, row);
    body.u32(static_cast<std::uint32_t>(request.objects.size()));
    for (const auto& [target, der] : request.objects) {
        body.i32(target);
        body.bytes(der);
    }
    body.text(request.title);
    body.text(request.filterName);
    body.text(request.filterPattern);
    const std::string b = body.take();

    Writer head;
    for (char c : kRequestMark) head.u8(static_cast<std::uint8_t>(c));
    head.u32(static_cast<std::uint32_t>(b.size()));
    return head.take() + b;
}

std::optional<std::size_t> requestBodyLength(std::string_view header) {
    if (header.size() != kRequestHeaderBytes || header.substr(0, 4) != kRequestMark) return std::nullopt;
    Reader r(header.substr(4));
    const std::uint32_t length = r.u32();
    if (length > kMaxRequestBytes) return std::nullopt;
    return length;
}

std::optional<WindowRequest> decodeRequestBody(std::string_view body) {
    if (body.size() > kMaxRequestBytes) return std::nullopt;
    Reader r(body);
    WindowRequest request;
    const std::uint8_t task = r.u8();
    if (task != static_cast<std::uint8_t>(WindowTask::ShowSummary) &&
        task != static_cast<std::uint8_t>(WindowTask::ChooseSaveName)) {
        return std::nullopt;
    }
    request.task = static_cast<WindowTask>(task);
    const std::uint32_t rows = r.count(kMinRowBytes);
    for (std::uint32_t i = 0; i < rows && r.ok(); ++i) {
        std::optional<SummaryRow> row = readRow(r);
        if (!row) return std::nullopt;
        request.rows.push_back(std::move(*row));
    }
    const std::uint32_t objects = r.count(kMinObjectBytes);
    for (std::uint32_t i = 0; i < objects && r.ok(); ++i) {
        const int target = r.i32();
        std::vector<std::uint8_t> der = r.bytes();
        if (!r.ok() || !request.objects.emplace(target, std::move(der)).second) return std::nullopt;
    }
    request.title = r.text();
    request.filterName = r.text();
    request.filterPattern = r.text();
    if (!r.ok() || r.left() != 0) return std::nullopt;
    return request;
}

std::string encodeChosenName(std::u16string_view name) {
    Writer w;
    w.text(name);
    return w.take();
}

std::optional<std::u16string> decodeChosenName(std::string_view answer) {
    if (answer.empty() || answer.size() > kMaxAnswerBytes) return std::nullopt;
    Reader r(answer);
    std::u16string name = r.text();
    if (!r.ok() || r.left() != 0 || name.empty()) return std::nullopt;
    return name;
}

}  // namespace tessal::display
