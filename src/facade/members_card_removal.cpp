// onCardRemoved: registers the callback the card monitors call when the
// signer's card leaves its reader, replacing any earlier one.
#include <mutex>

#include "facade/callback_lock.h"
#include "facade/member_guard.h"
#include "tessal/sign.h"

namespace tessal {

HResult Sign::putOnCardRemoved(std::shared_ptr<Dispatch> callback) {
    auto& s = *state_;
    return facade::gatedMember(s, [&]() -> HResult {
        {
            std::lock_guard lock(facade::callbackLock());
            // The earlier registration goes whatever follows: a refused
            // reference leaves nothing registered.
            s.cardCallback->callback.reset();
            if (callback) {
                s.cardCallback->callback = std::move(callback);
                return hr::S_OK;
            }
        }
        return facade::reportFailure(s, u"Kortelės būsenos stebėjimo funkcijos priskyrimo klaida: %X",
                                     {static_cast<std::uint32_t>(hr::E_POINTER)});
    });
}

}  // namespace tessal
