// The checks on "*.rtv" backup images, made before anything is written: what the file chosen for
// a backup may be, whether the source holds the system area it describes, and what an image
// must hold to be restored to a target. Each refusal is shown in an error box that names the
// file or drive and the value.
#pragma once

#include <cstdint>
#include <string>

#include "disk/drive_table.h"

namespace quillmar {

// Sectors of a backup image: sectors 0 and 1, the system partition of p1_length sectors and the
// first 10,240 sectors of the MPEG partition.
uint64_t BackupImageSectors(uint32_t p1_length);

// The file a backup may write: an existing regular file, or a new file in a folder that exists
// and can be written (never a device, a FIFO or a folder).
bool CheckBackupFile(const std::string& path);

// The source drive holds at least the sectors of its backup.
bool CheckSourceHoldsImage(const DriveInfo& source, uint64_t sectors);

// The image a restore may write to the target: a regular file of a whole number of sectors
// whose sector 0 is a ReplayTV partition block, holding the whole image that block describes,
// and no longer than the target.
bool CheckRestoreImage(const std::string& path, const DriveInfo& target);

}  // namespace quillmar
