// The safety nets around an operation, as both front-ends offer them: an undo file recording what
// the operation overwrites, and the read-back verification of its copies.
#pragma once

#include <cstdint>
#include <functional>

#include "disk/undo_recorder.h"

namespace quillmar {

struct SafetyNets {
  bool verify = false;
  UndoPathChooser undo_path;  // empty: no undo file
  uint64_t undo_limit = kDefaultUndoLimitBytes;
};

// Runs the operation (its result: 0 done, -1 not) with the nets, and the check at its first write
// that the drives are as listed (*changed_drive: the drive found changed, or -1); a done operation
// whose undo file could not be completed is not done.
int RunWithSafetyNets(const SafetyNets& nets, const std::function<int()>& operation,
                      int* changed_drive = nullptr);

// The window's undo file: a save-file choice through the front-end, made at the first write (after
// the confirmation). A path that exists or is one of the listed drives is refused, and the choice
// asked again; a drive changed while it waited refuses the write (DrivesStillAsListed).
UndoPathChooser AskUndoFilePath();

// The window's "Undo from file...": an open-file choice, then the undo without force.
int UndoFromChosenFile();

}  // namespace quillmar
