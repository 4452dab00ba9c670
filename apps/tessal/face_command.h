#pragma once
#include <string>
#include <vector>

namespace tessal::cli {

// `tessal face [--size WxH] FILE -o OUT.png`: verifies FILE and saves the
// control's face for its signature value as a PNG image.
int runFace(const std::vector<std::string>& args);

}  // namespace tessal::cli
