#include "ops/drive_checks.h"

#include "base/byte_order.h"
#include "base/log.h"
#include "base/shown_path.h"
#include "disk/drive_identity.h"

namespace quillmar {

const char* const kTargetSystemDiskWarning =
    "Target disk appears to be a System Disk!!!\n"
    "YOU SHOULD NEVER OVERWRITE A SYSTEM DISK!!!\n"
    "Please remove the partitions from the target disk\n"
    "and reboot your computer before continuing\n"
    "CONTINUE AT YOUR OWN RISK, ONLY IF YOU KNOW WHAT YOU ARE DOING!!!";

const char* const kSourceNotReplayTv = "Source disk does not seem to be a ReplayTV disk.";

bool IsDriveIndex(int index) {
  return index >= 0 && index < kMaxDrives;
}

bool IsDriveOneOfAPair(const DriveInfo& drive) {
  // Drive 1's part of the joined space: the drive, limited to 137 GB in standard order as the
  // join limits it (a larger drive's partition 2 may end inside the drive, yet past its part).
  const uint64_t part =
      !drive.rtv4000 && drive.size_sectors > k137GbSectors ? k137GbSectors : drive.size_sectors;
  return drive.dual_position == 1 && uint64_t{drive.p2_start} + drive.p2_length > part;
}

bool CheckSourceNotDriveOneOfAPair(const DriveInfo& source) {
  if (!IsDriveOneOfAPair(source))
    return true;
  ShowError(
      Format("*** ERROR: Disk %s is drive 1 of a two-drive system: its partitions run on\n"
             "           onto drive 2, and the recordings there would be missing from\n"
             "           the copy.",
             ShownPath(source.device_path).c_str()));
  return false;
}

void ShowError(const std::string& text) {
  LogAndShow(text, kErrorCaption);
}

bool CheckSourceAndTargetSelected(int source, int target) {
  if (IsDriveIndex(source) && IsDriveIndex(target))
    return true;
  ShowError("You must specify a source and a target disk.");
  return false;
}

bool CheckSourceAndTarget(int source, int target) {
  if (!CheckSourceAndTargetSelected(source, target))
    return false;
  return CheckDifferentDrives(source, target) && CheckWritableSectors(target);
}

bool CheckDifferentDrives(int source, int target) {
  if (source == target) {
    ShowError("Source and Target disks MUST NOT be the same.");
    return false;
  }
  return CheckDistinctDisks(source, target);
}

bool CheckDistinctDisks(int first, int second) {
  const std::string& a = DriveAt(first).device_path;
  const std::string& b = DriveAt(second).device_path;
  DiskRelation relation = first == second ? DiskRelation::kSeparate : DiskRelationOf(a, b);
  if (relation == DiskRelation::kSame) {
    ShowError(Format("%s and %s are the same disk under two names.\nNothing was written.",
                     ShownPath(a).c_str(), ShownPath(b).c_str()));
    return false;
  }
  if (relation == DiskRelation::kOverlapping) {
    ShowError(Format("%s and %s overlap: they share sectors of one disk.\nNothing was written.",
                     ShownPath(a).c_str(), ShownPath(b).c_str()));
    return false;
  }
  return true;
}

bool CheckDrivePair(int first, int second, bool first_written) {
  return CheckDistinctDisks(first, second) && (!first_written || CheckWritableSectors(first)) &&
         CheckWritableSectors(second);
}

bool CheckWritableSectors(int index) {
  const DriveInfo& drive = DriveAt(index);
  if (drive.sector_bytes == kBlockSize)
    return true;
  ShowError(
      Format("%s has %u-byte sectors.\nA ReplayTV recorder can only use drives with 512-byte "
             "sectors.\nNothing was written.",
             ShownPath(drive.device_path).c_str(), drive.sector_bytes));
  return false;
}

}  // namespace quillmar
