#include "platform/pin_prompt.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
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

std::string unescaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::strtol(std::string(text.substr(i + 1, 2)).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
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
                if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                    cleanse();
                    return;
                }
                ::usleep(10000);
            }
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        cleanse();
    }
    void cleanse() {
        OPENSSL_cleanse(buffer_.data(), buffer_.size());
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

    // The next line from the program; nothing at its end or at the deadline.
    std::optional<std::string> line() {
        for (;;) {
            if (const std::size_t end = buffer_.find('\n'); end != std::string::npos) {
                std::string out = buffer_.substr(0, end);
                OPENSSL_cleanse(buffer_.data(), end);
                buffer_.erase(0, end + 1);
                return out;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd p{out_, POLLIN, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) return std::nullopt;
            char chunk[512];
            const ssize_t n = ::read(out_, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return std::nullopt;
            buffer_.append(chunk, static_cast<std::size_t>(n));
            OPENSSL_cleanse(chunk, sizeof chunk);
        }
    }

    // Reads to the OK (true) or ERR (false) that ends an answer, keeping the data lines.
    bool answer(std::string* data = nullptr) {
        for (;;) {
            std::optional<std::string> next = line();
            if (!next) return false;
            if (next->rfind("OK", 0) == 0) return true;
            if (next->rfind("ERR", 0) == 0) return false;
            if (data && next->rfind("D ", 0) == 0) *data += unescaped(std::string_view(*next).substr(2));
            OPENSSL_cleanse(next->data(), next->size());
        }
    }

private:
    std::chrono::steady_clock::time_point deadline_;
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string buffer_;
};

}  // namespace

std::optional<std::string> askPin(std::string_view description) {
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
    std::optional<std::string> pin;
    {
        Pinentry entry(program, deadline);
        if (entry.started() && entry.answer() && entry.send("SETTIMEOUT " + std::to_string(timeout)) && entry.answer() &&
            entry.send("SETDESC " + escaped(description)) && entry.answer() && entry.send("SETPROMPT PIN:") &&
            entry.answer()) {
            std::string typed;
            if (entry.send("GETPIN") && entry.answer(&typed) && !typed.empty()) pin = std::move(typed);
            OPENSSL_cleanse(typed.data(), typed.size());
            entry.send("BYE");
        }
    }
    ::sigaction(SIGPIPE, &previous, nullptr);
    return pin;
}

}  // namespace tessal::platform
