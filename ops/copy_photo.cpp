// Copies partition 3, the Photo partition of an RTV4000 disk, so that it ends at the last sector
// of the target (which may be the source itself).
#include "app/log.h"
#include "disk/copy_engine.h"
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
  uint32_t len = source.p3_length <= target.size_sectors ? source.p3_length : 0;
  return ConfirmProceed(
      Format(
          "You are about to copy \nthe 3rd partition of disk %s (%s)\nto the end of disk %s (%s).",
          source.device_path.c_str(), source.model.c_str(), target.device_path.c_str(),
          target.model.c_str()) +
      UndoBulkCopyNote(target.device_path, target.size_sectors - len, len));
}

}  // namespace

int CopyPhotoPartition(int source_index, int target_index) {
  // Source and target may be the same drive: the partition then moves to the drive's end.
  if (!CheckSourceAndTargetSelected(source_index, target_index))
    return -1;
  const DriveInfo& source = DriveAt(source_index);
  const DriveInfo& target = DriveAt(target_index);
  if (source.p3_length == 0) {
    ShowError("Source disk doesn't have a Photo partition.");
    return -1;
  }
  if (!AskPhotoQuestions(source, target))
    return -1;

  LogBanner({"Copying Photo Partition"});
  LogLine("");
  uint32_t len = source.p3_length;
  uint32_t from = source.p3_start;
  // A Photo partition longer than the whole target has no place to end at its last sector; the
  // unsigned start would wrap and the copy would write past the end of the target.
  if (len > target.size_sectors) {
    ShowError(
        Format("*** ERROR: The 3rd partition of disk %s (%u blocks) is larger\n"
               "           than disk %s (%u blocks).",
               source.device_path.c_str(), len, target.device_path.c_str(), target.size_sectors));
    return -1;
  }
  uint32_t to = target.size_sectors - len;
  LogLine(Format("  3rd partition of source disk (%s) is %d blocks (%dMB)",
                 source.device_path.c_str(), static_cast<int>(len), static_cast<int>(len / 2048)));
  LogLine(Format("  3rd partition of target disk (%s) will start at sector %d",
                 target.device_path.c_str(), static_cast<int>(to)));
  if (source_index == target_index && static_cast<uint64_t>(from) + len > to) {
    ShowError("Can't proceed because the source and target range overlap.");
    return -1;
  }
  if (CopyBlocks(source.device_path, target.device_path, from, to, len) != 0 ||
      VerifyCopyIfAsked(source.device_path, target.device_path, from, to, len) != 0) {
    return -1;
  }

  LogCopyCompleteBanner();
  LogAndShow(
      "NOTE: You MUST now apply the patch in order to make the disk work!\n      DO NOT "
      "CHOOSE TO REFORMAT the Photo partition\n      when applying the patch!",
      "Copy Complete");
  return 0;
}

}  // namespace quillmar
