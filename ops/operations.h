// The user-level disk operations. Drives are DriveTable indexes, -1 for none. Each returns 0
// when it finished and -1 when it was refused, declined or failed; each reports its own causes
// through the log facility and asks before it writes anything.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace quillmar {

// Copies sector 0, sector 1, the system partition and the first 10,240 sectors of the MPEG
// partition to the same sectors of the target.
int MirrorSystemPartition(int source, int target);

// Copies everything from the start of the source's partition 2 to the end of the drive.
int CopyMpegPartition(int source, int target);

// Copies the source's partition 3 so that it ends at the last sector of the target.
int CopyPhotoPartition(int source, int target);

// Checks, confirms and applies the 137 GB limit, then patches the drive.
int PatchSingleDrive(int target, uint32_t photo_request);

// The patch itself, for one drive (second_device empty, second_sectors 0, second_reserve 0) or
// for a two-drive system (second_reserve 2).
int PatchDisk(const std::string& first_device, const std::string& second_device,
              uint32_t first_sectors, uint32_t second_sectors, uint32_t photo_request,
              uint32_t second_reserve);

// Joins drive1 and drive2 into one two-drive system and patches it.
int AddSecondDrive(int drive1, int drive2, uint32_t photo_request);

// Called once the user has answered every question and chosen the file, right before the copy
// starts: the window disables its controls there, and refreshes afterwards only if it was called.
using OperationStart = std::function<void()>;

// Backs the source's system area up to a "*.rtv" image chosen by the user.
int BackupSourceDrive(int source, const OperationStart& on_start);

// Restores a "*.rtv" image chosen by the user to the target, then offers the MPEG reset.
int RestoreTargetDrive(int target, const OperationStart& on_start);

}  // namespace quillmar
