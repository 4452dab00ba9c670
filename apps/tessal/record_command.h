#pragma once
#include <string>
#include <vector>

namespace tessal::cli {

// `tessal cert FILE` and `tessal crl FILE`: print every text the stores and
// the web service index a certificate or CRL by, as one line of JSON.
int runCert(const std::vector<std::string>& args);
int runCrl(const std::vector<std::string>& args);

}  // namespace tessal::cli
