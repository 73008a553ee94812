// Ctrl-C (SIGINT) and SIGTERM while quillmar-cli runs: the first asks the copy that runs to stop
// at its next chunk and answers the question waiting, and every later one, No (the operation then
// ends as failed and the process with kExitInterrupted; one that finished anyway exits 0); a
// second one ends the process at once, with kExitInterrupted.
#pragma once

namespace quillmar::cli {

inline constexpr int kExitInterrupted = 130;  // 128 + SIGINT, as shells report Ctrl-C

void CatchStopSignals();

}  // namespace quillmar::cli
