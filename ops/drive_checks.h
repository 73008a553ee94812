// The checks and texts that several operations share before they write: the drive selection,
// the warning about a PC's own disk, and the table lookups.
#pragma once

#include <string>

#include "disk/drive_table.h"

namespace quillmar {

// The warning every copy asks before it overwrites a disk that looks like a PC's own.
extern const char* const kTargetSystemDiskWarning;
// The question when a copy's source is not classified as a recorder disk.
extern const char* const kSourceNotReplayTv;

inline constexpr const char* kErrorCaption = "*** ERROR ***";

// True for an index of the drive table (0..15).
bool IsDriveIndex(int index);

// The refusal of a copy without a source or a target. True when both are selected; otherwise
// the reason has been shown.
bool CheckSourceAndTargetSelected(int source, int target);

// The refusals of a copy between two drives: none selected, or the same one twice. True when
// the copy may go on; otherwise the reason has been shown.
bool CheckSourceAndTarget(int source, int target);

// LogAndShow under the error caption.
void ShowError(const std::string& text);

}  // namespace quillmar
