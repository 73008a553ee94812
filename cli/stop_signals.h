// Ctrl-C (SIGINT), SIGTERM and SIGHUP (the terminal or the ssh session closed) while quillmar-cli
// runs: the first asks the copy that runs to stop at its next chunk and answers the question
// waiting, and every later one, No (the operation then ends as failed and the process with
// kExitInterrupted; one that finished anyway exits 0); a second one ends the process at once,
// with kExitInterrupted.
#pragma once

namespace quillmar::cli {

inline constexpr int kExitInterrupted = 130;  // 128 + SIGINT, as shells report Ctrl-C

void CatchStopSignals();

// Output to a reader that went away (a pager that quit) fails instead of killing the process,
// maybe in the middle of a write to a disk.
void IgnoreBrokenPipes();

}  // namespace quillmar::cli
