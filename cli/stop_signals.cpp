#include "cli/stop_signals.h"

#include <signal.h>
#include <unistd.h>

#include "disk/copy_stop.h"

namespace quillmar::cli {
namespace {

// Only async-signal-safe work: the lock-free flag, or _exit.
void OnStopSignal(int) {
  if (CopyStopRequested())
    ::_exit(kExitInterrupted);
  RequestCopyStop();
}

}  // namespace

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // disk and terminal calls carry on; the copy looks at the flag
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace quillmar::cli
