#include "removal_printer.h"

#include <iostream>
#include <utility>
#include <vector>

namespace tessal::cli {

namespace {

class RemovalPrinter final : public Dispatch {
public:
    explicit RemovalPrinter(std::string text) : line_("cardRemoved " + std::move(text) + "\n") {}

    // Runs on the card monitor's thread: the line goes out in one write and
    // is flushed at once, so a script sees it while the object still waits.
    HResult invokeDefault(std::vector<Variant>&, Variant&) override {
        std::cout.write(line_.data(), static_cast<std::streamsize>(line_.size()));
        std::cout.flush();
        return hr::S_OK;
    }

private:
    std::string line_;
};

}  // namespace

std::shared_ptr<Dispatch> removalPrinter(std::string text) { return std::make_shared<RemovalPrinter>(std::move(text)); }

}  // namespace tessal::cli
