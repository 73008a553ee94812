// The window started without administrator rights on the machine's own disks: every drive would
// only show as "Empty". One box says how to start it with rights instead.
#pragma once

namespace quillmar {

// Logs and shows the notice when this process is not root and no --drive was given.
void ExplainMissingRights();

}  // namespace quillmar
