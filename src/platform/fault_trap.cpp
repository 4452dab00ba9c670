#include "platform/fault_trap.h"

#include <pthread.h>
#include <setjmp.h>
#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/trap_released_lock.h"

namespace tessal::platform {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
struct sigaction previousActions[sizeof kSignals / sizeof kSignals[0]];

struct Trap {
    sigjmp_buf jump;
    Trap* outer;
};
thread_local Trap* activeTrap = nullptr;
thread_local volatile std::uint32_t trappedCode = 0;
// A stack of its own for the handler, so a stack overflow can still be caught.
// When the thread ends, the stack it had before is put back before the memory
// goes: the kernel must never hold a freed block as a signal stack, and a
// runtime that set up a stack of its own (a sanitizer's) finds that one again.
class AlternateStack {
public:
    AlternateStack() = default;
    AlternateStack(const AlternateStack&) = delete;
    AlternateStack& operator=(const AlternateStack&) = delete;
    ~AlternateStack() {
        if (installed_) sigaltstack(&previous_, nullptr);
    }
    void ensure() {
        if (!memory_.empty()) return;
        memory_.resize(64 * 1024);
        stack_t st;
        std::memset(&st, 0, sizeof st);
        st.ss_sp = memory_.data();
        st.ss_size = memory_.size();
        installed_ = sigaltstack(&st, &previous_) == 0;
    }

private:
    std::vector<char> memory_;
    stack_t previous_{};
    bool installed_ = false;
};
thread_local AlternateStack alternateStack;

// The low end of the thread's stack and its guard size, learnt before any
// trap is armed: the handler may only make async-signal-safe calls, and
// reading the thread's attributes is not one (it may allocate and read files).
struct StackEnd {
    const char* low = nullptr;
    std::size_t guard = 0;
    bool known = false;
};
thread_local StackEnd stackEnd;

void learnStackEnd() {
    if (stackEnd.known) return;
    stackEnd.known = true;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* base = nullptr;
    std::size_t size = 0;
    pthread_attr_getstack(&attr, &base, &size);
    pthread_attr_getguardsize(&attr, &stackEnd.guard);
    pthread_attr_destroy(&attr);
    stackEnd.low = static_cast<const char*>(base);
}

bool nearStackEnd(const void* address) {
    if (!stackEnd.low) return false;
    const auto* at = static_cast<const char*>(address);
    const std::size_t slack = stackEnd.guard + 64 * 1024;
    return at + slack >= stackEnd.low && at < stackEnd.low + 64 * 1024;
}

std::uint32_t faultCode(int sig, const siginfo_t* info) {
    switch (sig) {
        case SIGSEGV:
            return nearStackEnd(info->si_addr) ? 0xC00000FDu : 0xC0000005u;
        case SIGBUS:
            return info->si_code == BUS_ADRALN ? 0x80000002u : 0xC0000006u;
        case SIGILL:
            return info->si_code == ILL_PRVOPC ? 0xC0000096u : 0xC000001Du;
        case SIGFPE:
            switch (info->si_code) {
                case FPE_INTDIV: return 0xC0000094u;
                case FPE_INTOVF: return 0xC0000095u;
                case FPE_FLTDIV: return 0xC000008Eu;
                case FPE_FLTOVF: return 0xC0000091u;
                case FPE_FLTUND: return 0xC0000093u;
                case FPE_FLTRES: return 0xC000008Fu;
                case FPE_FLTINV: return 0xC0000090u;
                default: return 0xC0000090u;
            }
        default:
            return 0xC0000005u;
    }
}

void onFault(int sig, siginfo_t* info, void* context) {
    if (Trap* trap = activeTrap) {
        trappedCode = faultCode(sig, info);
        siglongjmp(trap->jump, 1);
    }
    // No trap on this thread: hand the signal to whoever had it before.
    for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
        if (kSignals[i] != sig) continue;
        const struct sigaction& prev = previousActions[i];
        if (prev.sa_flags & SA_SIGINFO) {
            if (prev.sa_sigaction) {
                prev.sa_sigaction(sig, info, context);
                return;
            }
        } else if (prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN) {
            prev.sa_handler(sig);
            return;
        }
    }
    signal(sig, SIG_DFL);  // returning re-runs the faulting instruction
}

void installHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
            struct sigaction action;
            std::memset(&action, 0, sizeof action);
            action.sa_sigaction = onFault;
            action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
            sigemptyset(&action.sa_mask);
            sigaction(kSignals[i], &action, &previousActions[i]);
        }
    });
}

}  // namespace

std::optional<std::uint32_t> runTrappingFaults(const std::function<void()>& body) {
    installHandlers();
    alternateStack.ensure();
    learnStackEnd();
    trappedCode = 0;  // the handler then finds this thread's variables in place
    const std::size_t locksHeld = held_locks::depth();
    Trap trap;
    trap.outer = activeTrap;
    if (sigsetjmp(trap.jump, 1) != 0) {
        activeTrap = trap.outer;
        // The abandoned frames never ran their destructors: give back the
        // process-wide locks they took, or later members would block.
        held_locks::releaseAbove(locksHeld);
        return trappedCode;
    }
    activeTrap = &trap;
    try {
        body();
    } catch (...) {
        activeTrap = trap.outer;
        throw;
    }
    activeTrap = trap.outer;
    return std::nullopt;
}

}  // namespace tessal::platform
