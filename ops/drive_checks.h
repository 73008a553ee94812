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

// Drive 1 of a two-drive system: its partition 2 runs on past its part (its end, or 137 GB in
// standard order) onto drive 2.
bool IsDriveOneOfAPair(const DriveInfo& drive);

// The refusal of a copy from drive 1 of a two-drive system: its partitions run on onto drive 2,
// which a copy from one disk does not read. True when source is not one; otherwise it was shown.
bool CheckSourceNotDriveOneOfAPair(const DriveInfo& source);

// The refusal of a copy without a source or a target. True when both are selected; otherwise
// the reason has been shown.
bool CheckSourceAndTargetSelected(int source, int target);

// The refusals of a copy between two drives: none selected, the same one twice, one disk under
// two indexes, or a target without 512-byte sectors. True when the copy may go on; otherwise the
// reason has been shown.
bool CheckSourceAndTarget(int source, int target);

// The refusal of two different drive indexes that reach the same disk (two names of it) or
// overlap (a partition and its disk). True when they are separate or the same index; otherwise
// the reason, naming both paths, has been shown.
bool CheckDistinctDisks(int first, int second);

// The refusals of two selected drives that are one drive or one disk: the same index twice, and
// those of CheckDistinctDisks. True when they are separate disks; otherwise the reason was shown.
bool CheckDifferentDrives(int source, int target);

// The refusals of an operation on two drives before it asks or writes anything: those of
// CheckDistinctDisks, and a drive it writes to whose sectors are not 512 bytes (the second
// always, the first when first_written). True when the operation may go on.
bool CheckDrivePair(int first, int second, bool first_written);

// The refusal of a drive to be written whose logical sectors are not 512 bytes. True when it
// may be written; otherwise the reason has been shown.
bool CheckWritableSectors(int index);

// LogAndShow under the error caption.
void ShowError(const std::string& text);

}  // namespace quillmar
