// Which path stands behind each drive index 0..15. By default the machine's whole disks from
// /sys/block (virtual, optical and empty devices skipped, ordered by major:minor, at most 16);
// with --drive PATH the given image files or devices are the drives 0, 1, 2, ... instead.
#pragma once

#include <string>
#include <vector>

namespace quillmar {

// Uses these paths as drives 0, 1, 2, ... (at most 16); an empty list returns to the default.
void SetDrivePaths(const std::vector<std::string>& paths);

// Whether drives were named with --drive (not the machine's own disks).
bool DrivePathsGiven();

// The machine's disks are looked up afresh at the next use (disks plugged in since).
void ForgetMachineDisks();

// The path of drive index i, or "" when no drive is mapped there.
std::string DrivePath(int index);

// The first lower index whose path reaches the same disk as drive index's path, or -1. A later
// name of a disk already mapped is left out of the drive table.
int EarlierNameOfSameDisk(int index);

// Why the --drive paths cannot be the drives ("" when they can): more than 16 of them, or one
// that is neither an image file nor a block device.
std::string DrivePathsProblem(const std::vector<std::string>& paths);

// Why a --log file cannot be the log ("" when it can): it is one of the --drive paths, or shares
// sectors with one, and the log lines would be written onto that disk without a question.
std::string LogPathDrivesProblem(const std::string& log_path,
                                 const std::vector<std::string>& paths);

// The machine's whole disks as the default map would list them.
std::vector<std::string> DiscoverMachineDisks();

// The same discovery over the sysfs tree at sysfs_root ("/sys" for the machine's own): the
// "/dev/NAME" paths of the whole disks listed in sysfs_root/block.
std::vector<std::string> DiscoverDisks(const std::string& sysfs_root);

}  // namespace quillmar
