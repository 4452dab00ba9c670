#pragma once
#include <cstdint>
#include <string>

namespace tessal::diag {

// "Operacinės sistemos grąžinta klaida (N): <system text>" when the platform
// knows the code, else "Operacinės sistemos grąžintas klaidos kodas - N".
// N is upper-case hexadecimal above 16000, decimal otherwise; 0 gives "".
std::u16string osErrorText(std::uint32_t code);

}  // namespace tessal::diag
