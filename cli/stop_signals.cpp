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
  // No SA_RESTART: a read waiting at a question returns, and the question is answered No. Disk
  // calls retry on EINTR; the copy looks at the flag before its next chunk.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);  // the terminal closed, or the ssh session ended
}

void IgnoreBrokenPipes() {
  ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace quillmar::cli
