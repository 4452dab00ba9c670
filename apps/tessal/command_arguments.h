#pragma once
// Walks the arguments of one subcommand: --help, options and their values,
// "--" after which every argument is an operand, and the operands; usage
// errors are printed in the command's own form.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessal::cli {

class CommandArguments {
public:
    CommandArguments(std::string command, const std::vector<std::string>& args);

    // Moves to the next argument, passing over the "--" that ends the
    // options; false after the last one.
    bool next();
    const std::string& current() const;

    // --help or -h, before the options ended.
    bool isHelp() const;
    // The option `name`, before the options ended.
    bool is(std::string_view name) const;
    // Any other option (a dash and more), before the options ended.
    bool isOption() const;
    // The argument after the current option, taken as its value.
    std::optional<std::string> value();

    // Prints "tessal COMMAND: MESSAGE" and where to find help; answers the
    // usage-error exit status 2.
    int usage(const std::string& message) const;

private:
    std::string command_;
    const std::vector<std::string>& args_;
    std::size_t next_ = 0;
    std::size_t current_ = 0;
    bool options_ = true;
};

}  // namespace tessal::cli
