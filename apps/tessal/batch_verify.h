#pragma once
#include <string>
#include <vector>

namespace tessal::cli {

// The most worker threads a batch takes.
inline constexpr unsigned kMaxJobs = 256;

// Verifies every file of `files` on `jobs` worker threads, each holding a
// Sign object of its own, and prints one line per file in the order given:
// "FILE\tvalid\tSUBJECT", "FILE\tinvalid\tFIRST DEFECT" or
// "FILE\tunreadable\tREASON", then a total line. Answers 0 when every file
// holds, 1 otherwise.
int runBatchVerify(const std::vector<std::string>& files, unsigned jobs);

}  // namespace tessal::cli
