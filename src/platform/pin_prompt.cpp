#include "platform/pin_prompt.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <openssl/crypto.h>

#include "platform/config.h"

namespace tessal::platform {

namespace {

constexpr int kDefaultTimeoutSeconds = 60;

// Assuan escapes "%", CR and LF (and we escape every control character).
std::string escaped(std::string_view text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '%' || u < 0x20) {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    return out;
}

// Assuan lines are at most 1000 bytes; a program that sends a longer one
// is not spoken to further.
constexpr std::size_t kMaxLineBytes = 1000;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Appends the unescaped `text` to `out`; false when it does not fit.
bool appendUnescaped(std::string_view text, SecretBuffer& out) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            c = static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        }
        if (!out.append(c)) return false;
    }
    return true;
}

// One pinentry process with pipes to and from it; killed when it goes.
class Pinentry {
public:
    Pinentry(const std::string& program, std::chrono::steady_clock::time_point deadline) : deadline_(deadline) {
        int toChild[2], fromChild[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0) return;
        if (::pipe2(fromChild, O_CLOEXEC) != 0) {
            ::close(toChild[0]);
            ::close(toChild[1]);
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(toChild[0], 0);
            ::dup2(fromChild[1], 1);
            const int null = ::open("/dev/null", O_WRONLY);
            if (null >= 0) ::dup2(null, 2);
            ::execlp(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        in_ = toChild[1];
        out_ = fromChild[0];
        if (pid_ < 0) {
            ::close(in_);
            ::close(out_);
            in_ = out_ = -1;
        }
    }
    ~Pinentry() {
        if (in_ >= 0) ::close(in_);
        if (out_ >= 0) ::close(out_);
        if (pid_ > 0) {
            // A program told BYE (or seeing its input end) leaves by itself;
            // one that does not is ended.
            for (int poll = 0; poll < 50; ++poll) {
                if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
                ::usleep(10000);
            }
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Pinentry(const Pinentry&) = delete;
    Pinentry& operator=(const Pinentry&) = delete;

    bool started() const { return pid_ > 0; }

    bool send(const std::string& line) {
        const std::string text = line + "\n";
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(in_, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // The next line from the program, in a wiped buffer; nothing at its
    // end, at the deadline or when a line is longer than Assuan allows.
    std::optional<SecretBuffer> line() {
        for (;;) {
            if (const std::size_t end = buffer_.view().find('\n'); end != std::string_view::npos) {
                SecretBuffer out = SecretBuffer::of(buffer_.view().substr(0, end));
                // Move what follows to the front; the tail is wiped.
                const std::size_t rest = buffer_.size() - end - 1;
                std::memmove(buffer_.data(), buffer_.data() + end + 1, rest);
                buffer_.truncate(rest);
                return out;
            }
            if (buffer_.size() == buffer_.capacity()) return std::nullopt;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd p{out_, POLLIN, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) return std::nullopt;
            char chunk[512];
            const ssize_t n = ::read(out_, chunk, std::min(sizeof chunk, buffer_.capacity() - buffer_.size()));
            if (n < 0 && errno == EINTR) continue;
            if (n > 0) buffer_.append(chunk, static_cast<std::size_t>(n));
            OPENSSL_cleanse(chunk, sizeof chunk);
            if (n <= 0) return std::nullopt;
        }
    }

    // Reads to the OK (true) or ERR (false) that ends an answer, keeping the
    // data lines; false too when the data do not fit `data`.
    bool answer(SecretBuffer* data = nullptr) {
        for (;;) {
            std::optional<SecretBuffer> next = line();
            if (!next) return false;
            const std::string_view text = next->view();
            if (text.starts_with("OK")) return true;
            if (text.starts_with("ERR")) return false;
            if (data && text.starts_with("D ") && !appendUnescaped(text.substr(2), *data)) return false;
        }
    }

private:
    std::chrono::steady_clock::time_point deadline_;
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    // One line and the start of the next; the PIN passes through it.
    SecretBuffer buffer_{kMaxLineBytes + 512};
};

}  // namespace

std::optional<SecretBuffer> askPin(std::string_view description) {
    const std::string program = configValue(kPlatformSection, "pinentryProgram").value_or("pinentry");
    int timeout = kDefaultTimeoutSeconds;
    if (auto value = configValue(kPlatformSection, "pinentryTimeout")) {
        const int parsed = std::atoi(value->c_str());
        if (parsed > 0) timeout = parsed;
    }
    // The program's own timeout ends the dialog; ours ends a program that ignores it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout + 2);
    // A write to a program that has gone must fail, not end this process.
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);
    std::optional<SecretBuffer> pin;
    {
        Pinentry entry(program, deadline);
        if (entry.started() && entry.answer() && entry.send("SETTIMEOUT " + std::to_string(timeout)) && entry.answer() &&
            entry.send("SETDESC " + escaped(description)) && entry.answer() && entry.send("SETPROMPT PIN:") &&
            entry.answer()) {
            SecretBuffer typed(kMaxLineBytes);
            if (entry.send("GETPIN") && entry.answer(&typed) && !typed.empty()) pin = std::move(typed);
            entry.send("BYE");
        }
    }
    ::sigaction(SIGPIPE, &previous, nullptr);
    return pin;
}

}  // namespace tessal::platform
