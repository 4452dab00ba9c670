#include "command_arguments.h"

#include <iostream>

namespace tessal::cli {

CommandArguments::CommandArguments(std::string command, const std::vector<std::string>& args)
    : command_(std::move(command)), args_(args) {}

bool CommandArguments::next() {
    if (options_ && next_ < args_.size() && args_[next_] == "--") {
        options_ = false;
        ++next_;
    }
    if (next_ >= args_.size()) return false;
    current_ = next_++;
    return true;
}

const std::string& CommandArguments::current() const { return args_[current_]; }

bool CommandArguments::isHelp() const { return is("--help") || is("-h"); }

bool CommandArguments::is(std::string_view name) const { return options_ && current() == name; }

bool CommandArguments::isOption() const { return options_ && current().size() > 1 && current()[0] == '-'; }

std::optional<std::string> CommandArguments::value() {
    if (next_ >= args_.size()) return std::nullopt;
    current_ = next_++;
    return args_[current_];
}

int CommandArguments::usage(const std::string& message) const {
    std::cerr << "tessal " << command_ << ": " << message << "\n(see 'tessal " << command_ << " --help')\n";
    return 2;
}

}  // namespace tessal::cli
