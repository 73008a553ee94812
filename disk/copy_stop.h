// A request to stop the copies of the running operation: a front-end sets it (the command line's
// signal handler, the window's Cancel button) and clears it before it starts the next operation;
// the copy engine looks at it before every chunk. Setting and reading are lock-free, so a signal
// handler may set it.
#pragma once

namespace quillmar {

void RequestCopyStop();
bool CopyStopRequested();
void ClearCopyStop();

}  // namespace quillmar
