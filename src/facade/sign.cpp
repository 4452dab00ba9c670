// Construction and destruction of the Sign object.
#include "tessal/sign.h"

#include "facade/callback_lock.h"
#include "facade/key_environment.h"
#include "facade/module_init.h"
#include "facade/sign_state.h"

namespace tessal {

Sign::Sign() : Sign(nullptr) {}

Sign::Sign(std::shared_ptr<HostSite> site) : state_(std::make_unique<facade::SignState>()) {
    facade::ensureModuleInitialised();
    state_->site = std::move(site);
}

Sign::~Sign() {
    try {
        {
            std::lock_guard lock(facade::callbackLock());
            state_->cardCallback->callback.reset();
        }
        facade::resetKeyEnvironment(*state_);
    } catch (...) {
        // Destruction must not fail the caller.
    }
}

}  // namespace tessal
