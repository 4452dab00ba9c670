// Members that work on the result of the last signing or verification run.
#include "facade/member_guard.h"
#include "tessal/sign.h"

namespace tessal {

HResult Sign::reset() {
    auto& s = *state_;
    return facade::guardMember(s, [&] {
        if (s.signatureInfo) {
            s.signatureInfo.reset();
            s.redrawFace();
        }
        return hr::S_OK;
    });
}

}  // namespace tessal
