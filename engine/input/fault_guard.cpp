// The SIGBUS handler behind ReadMapped.
#include "engine/input/fault_guard.h"

#include <signal.h>

#include <mutex>

namespace veskor {
namespace fault_guard_detail {

thread_local Frame* current = nullptr;

namespace {

void OnBusError(int signal_number, siginfo_t*, void*) {
  if (Frame* frame = current) siglongjmp(frame->env, 1);
  // Not ours: die as the process would have without the handler.
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

}  // namespace

void InstallHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    // SA_NODEFER: the jump leaves the handler without restoring the signal mask, so SIGBUS
    // must not be blocked while it runs, or the next fault would kill the process.
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, nullptr);
  });
}

}  // namespace fault_guard_detail
}  // namespace veskor
