#pragma once
// Points TESSAL_CONFIG at a configuration file for the life of the object and
// restores the previous setting afterwards.
#include <stdlib.h>

#include <optional>
#include <string>

#include "support/test_support.h"

namespace tessal::test {

class ConfigScope {
public:
    ConfigScope(const std::string& path, const std::string& contents) {
        if (const char* old = getenv("TESSAL_CONFIG")) previous_ = old;
        writeWholeFile(path, contents);
        setenv("TESSAL_CONFIG", path.c_str(), 1);
    }
    ~ConfigScope() {
        if (previous_) {
            setenv("TESSAL_CONFIG", previous_->c_str(), 1);
        } else {
            unsetenv("TESSAL_CONFIG");
        }
    }
    ConfigScope(const ConfigScope&) = delete;
    ConfigScope& operator=(const ConfigScope&) = delete;

private:
    std::optional<std::string> previous_;
};

}  // namespace tessal::test
