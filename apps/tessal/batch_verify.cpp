#include "batch_verify.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>

#include "cli_host.h"
#include "document_verdict.h"
#include "file_input.h"
#include "platform/system_messages.h"
#include "tessal/sign.h"

namespace tessal::cli {

namespace {

enum class Outcome { Valid, Invalid, Unreadable };

struct FileResult {
    Outcome outcome = Outcome::Unreadable;
    std::string detail;
};

// Hands each file's result from the worker that made it to the printing
// thread, which takes them in argument order whatever order they finish in.
class ResultBoard {
public:
    explicit ResultBoard(std::size_t count) : slots_(count) {}

    void put(std::size_t index, FileResult result) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            slots_[index] = std::move(result);
        }
        ready_.notify_all();
    }

    FileResult take(std::size_t index) {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return slots_[index].has_value(); });
        FileResult result = std::move(*slots_[index]);
        slots_[index].reset();
        return result;
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<std::optional<FileResult>> slots_;
};

// The first line of a multi-line text: of a defect list, the newest reason.
std::string firstLine(std::string_view text) {
    return std::string(text.substr(0, text.find_first_of("\r\n")));
}

std::string errorText(int code) {
    const std::optional<std::string> text = platform::systemMessageText(static_cast<std::uint32_t>(code));
    return text ? firstLine(*text) : "error " + std::to_string(code);
}

// A field of an output line with control characters written as \xHH, so a
// file name or a certificate subject can never start a line of its own or
// shift the fields of one.
std::string field(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

FileResult judge(Sign* sign, const std::string& path) {
    if (!sign) return {Outcome::Unreadable, "no verifier could be set up"};
    try {
        int error = 0;
        std::optional<std::vector<std::uint8_t>> bytes = readFileOctets(path, &error);
        if (!bytes) return {Outcome::Unreadable, "cannot read: " + errorText(error)};
        // The bytes move into the verification and are gone when it returns.
        const DocumentVerdict verdict = verifyDocument(*sign, std::move(*bytes));
        if (verdict.holds) return {Outcome::Valid, verdict.subject};
        return {Outcome::Invalid, firstLine(verdict.defects)};
    } catch (const std::bad_alloc&) {
        return {Outcome::Unreadable, "not enough memory"};
    } catch (...) {
        return {Outcome::Invalid, "unexpected error"};
    }
}

// One worker: a Sign object of its own, files taken from the shared index
// until none is left.
void work(const std::vector<std::string>& files, std::atomic<std::size_t>& next, ResultBoard& board) {
    std::unique_ptr<Sign> sign;
    try {
        sign = std::make_unique<Sign>(std::make_shared<CliHostSite>());
    } catch (...) {
        // Every file this worker takes is still answered, or the printer would wait forever.
    }
    for (;;) {
        const std::size_t index = next.fetch_add(1);
        if (index >= files.size()) return;
        board.put(index, judge(sign.get(), files[index]));
    }
}

const char* outcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::Valid: return "valid";
        case Outcome::Invalid: return "invalid";
        case Outcome::Unreadable: break;
    }
    return "unreadable";
}

}  // namespace

int runBatchVerify(const std::vector<std::string>& files, unsigned jobs) {
    ResultBoard board(files.size());
    std::atomic<std::size_t> next{0};
    const std::size_t wanted = std::min<std::size_t>(std::max(jobs, 1u), files.size());
    std::vector<std::thread> workers;
    workers.reserve(wanted);
    for (std::size_t i = 0; i < wanted; ++i) {
        try {
            workers.emplace_back(work, std::cref(files), std::ref(next), std::ref(board));
        } catch (const std::system_error&) {
            break;  // the threads already started share the work
        }
    }
    // Without any thread the work is done here before printing.
    if (workers.empty()) work(files, next, board);

    std::size_t valid = 0;
    std::size_t invalid = 0;
    std::size_t unreadable = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const FileResult result = board.take(i);
        switch (result.outcome) {
            case Outcome::Valid: ++valid; break;
            case Outcome::Invalid: ++invalid; break;
            case Outcome::Unreadable: ++unreadable; break;
        }
        std::cout << field(files[i]) << '\t' << outcomeName(result.outcome) << '\t' << field(result.detail) << '\n';
    }
    for (std::thread& worker : workers) worker.join();
    std::cout << "total: " << files.size() << " files, " << valid << " valid, " << invalid << " invalid, "
              << unreadable << " unreadable\n";
    std::cout.flush();
    return valid == files.size() ? 0 : 1;
}

}  // namespace tessal::cli
