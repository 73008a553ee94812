// Undoing an operation from its undo file: every sector it saved is written back, after checking
// that each drive is the disk the file was made for and that every saved sector still holds what
// the operation wrote there (or already its old contents again: a crash before the write, or an
// undo that was interrupted), and after a confirmation naming each disk and how many of its
// blocks go back. Sectors recorded as overwritten without a copy are named, not restored.
#pragma once

#include <string>

namespace quillmar {

// 0 when every saved sector was written back and flushed; -1 when refused, declined or failed
// (reported).
// force: write back even onto a disk that is different or was changed since.
int UndoFromFile(const std::string& undo_path, bool force);

}  // namespace quillmar
