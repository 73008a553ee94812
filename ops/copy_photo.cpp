// Copies partition 3, the Photo partition of an RTV4000 disk, so that it ends at the last sector
// of the target (which may be the source itself).
#include <cinttypes>

#include "base/log.h"
#include "base/shown_path.h"
#include "disk/drive_table.h"
#include "disk/undo_recorder.h"
#include "ops/banner.h"
#include "ops/drive_checks.h"
#include "ops/operations.h"
#include "ops/verify.h"

namespace quillmar {
namespace {

bool AskPhotoQuestions(const DriveInfo& source, const DriveInfo& target) {
  if ((!source.is_replaytv || !source.rtv4000) && !ConfirmProceed(kSourceNotReplayTv)) {
    return false;
  }
  if (target.system_disk && !ConfirmProceed(kTargetSystemDiskWarning))
    return false;
  return true;
}

// The source range must lie on the source (past its end the copy would stop at a read error with
// the target's range partly overwritten) and the partition must fit on the target, where it ends
// at the last sector; on one drive the two ranges must not overlap. Refused before the
// confirmation.
bool CheckPhotoRanges(const DriveInfo& source, const DriveInfo& target, bool same_drive) {
  uint32_t len = source.p3_length;
  uint64_t source_end = uint64_t{source.p3_start} + len;
  if (source_end > source.size_sectors) {
    ShowError(Format("*** ERROR: The 3rd partition of disk %s (sectors %u to %" PRIu64
                     ")\n           runs past the end of the disk (%u blocks).",
                     ShownPath(source.device_path).c_str(), source.p3_start, source_end - 1,
                     source.size_sectors));
    return false;
  }
  // Longer than the whole target, the unsigned start would wrap and the copy would write past
  // the end of the target.
  if (len > target.size_sectors) {
    ShowError(
        Format("*** ERROR: The 3rd partition of disk %s (%u blocks) is larger\n"
               "           than disk %s (%u blocks).",
               ShownPath(source.device_path).c_str(), len, ShownPath(target.device_path).c_str(),
               target.size_sectors));
    return false;
  }
  uint32_t to = target.size_sectors - len;
  if (same_drive && source_end > to) {
    ShowError("Can't proceed because the source and target range overlap.");
    return false;
  }
  // On a recorder disk the patch keeps the Photo partition's recorded length: one of another
  // length would never find the copy at the end. Nor does drive 1 of a two-drive system (its
  // partition 2 runs on past its part) hold its Photo partition there, but recordings.
  if (!same_drive && IsDriveOneOfAPair(target)) {
    ShowError(
        Format("*** ERROR: Disk %s is drive 1 of a two-drive system: a Photo partition\n"
               "           copied to its end would overwrite recordings.",
               ShownPath(target.device_path).c_str()));
    return false;
  }
  if (!same_drive && target.is_replaytv && target.p3_length != 0 && target.p3_length != len) {
    ShowError(
        Format("*** ERROR: The Photo partition of disk %s has %u blocks, that of disk %s\n"
               "           %u: the patch keeps the target's and would not find the copy.\n"
               "           Copy the system area (with its partition table) first.",
               ShownPath(target.device_path).c_str(), target.p3_length,
               ShownPath(source.device_path).c_str(), len));
    return false;
  }
  // Partition 3 may start inside the target's partition 2 (the patch shrinks that one), never in
  // its partition table or, on a recorder disk, its system partition.
  uint64_t system_end = target.is_replaytv ? uint64_t{target.p1_length} + 2 : 2;
  if (to < system_end) {
    ShowError(
        Format("*** ERROR: The 3rd partition of disk %s would start at sector %u of disk "
               "%s,\n           inside its partition table or system partition\n"
               "           (sectors 0 to %" PRIu64 ").",
               ShownPath(source.device_path).c_str(), to, ShownPath(target.device_path).c_str(),
               system_end - 1));
    return false;
  }
  return true;
}

bool ConfirmPhotoCopy(const DriveInfo& source, const DriveInfo& target) {
  uint32_t len = source.p3_length <= target.size_sectors ? source.p3_length : 0;
  return ConfirmProceed(
      Format(
          "You are about to copy \nthe 3rd partition of disk %s (%s)\nto the end of disk %s (%s).",
          ShownPath(source.device_path).c_str(), source.model.c_str(),
          ShownPath(target.device_path).c_str(), target.model.c_str()) +
      UndoBulkCopyNote(target.device_path, target.size_sectors - len, len));
}

}  // namespace

int CopyPhotoPartition(int source_index, int target_index) {
  // Source and target may be the same drive: the partition then moves to the drive's end.
  if (!CheckSourceAndTargetSelected(source_index, target_index) ||
      !CheckDrivePair(source_index, target_index, false)) {
    return -1;
  }
  const DriveInfo& source = DriveAt(source_index);
  const DriveInfo& target = DriveAt(target_index);
  if (!CheckSourceNotDriveOneOfAPair(source))
    return -1;
  if (source.p3_length == 0) {
    ShowError("Source disk doesn't have a Photo partition.");
    return -1;
  }
  if (!AskPhotoQuestions(source, target) ||
      !CheckPhotoRanges(source, target, source_index == target_index) ||
      !ConfirmPhotoCopy(source, target)) {
    return -1;
  }

  LogBanner({"Copying Photo Partition"});
  LogLine("");
  uint32_t len = source.p3_length;
  uint32_t from = source.p3_start;
  uint32_t to = target.size_sectors - len;
  LogLine(Format("  3rd partition of source disk (%s) is %u blocks (%uMB)",
                 ShownPath(source.device_path).c_str(), len, len / 2048));
  LogLine(Format("  3rd partition of target disk (%s) will start at sector %u",
                 ShownPath(target.device_path).c_str(), to));
  if (CopyAndVerifyIfAsked(source.device_path, target.device_path, from, to, len) != 0)
    return -1;

  LogCopyCompleteBanner();
  LogAndShow(
      "NOTE: You MUST now apply the patch in order to make the disk work!\n      DO NOT "
      "CHOOSE TO REFORMAT the Photo partition\n      when applying the patch!",
      "Copy Complete");
  return 0;
}

}  // namespace quillmar
