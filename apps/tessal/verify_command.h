#pragma once
#include <string>
#include <vector>

namespace tessal::cli {

// `tessal verify [--jobs N] FILE...`: for one file, prints the signer's
// subject text, or the reasons the signature does not hold on standard error;
// for a batch, one verdict line per file and a total.
int runVerify(const std::vector<std::string>& args);
// `tessal info [--json] FILE`: verifies, then prints the signature summary.
int runInfo(const std::vector<std::string>& args);

}  // namespace tessal::cli
