// Copies the recordings area of a recorder disk, from the start of partition 2 to the end of the
// drive, to the same sectors of another recorder disk.
#include <algorithm>
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

bool AskMpegQuestions(const DriveInfo& source, const DriveInfo& target) {
  if (!source.is_replaytv && !ConfirmProceed(kSourceNotReplayTv))
    return false;
  if (!target.is_replaytv && !ConfirmProceed("Target disk does not seem to be a ReplayTV disk.")) {
    return false;
  }
  if (static_cast<int32_t>(source.size_gb) > static_cast<int32_t>(target.size_gb) &&
      !ConfirmProceed("Source disk is BIGGER THAN Target disk.")) {
    return false;
  }
  if (target.system_disk && !ConfirmProceed(kTargetSystemDiskWarning))
    return false;
  return true;
}

// The copy writes the target from the source's partition 2 start on. That start must lie after
// the source's own partition table and system partition, inside both drives, and, on a target
// that has recorder partitions of its own, at its partition 2 start: anywhere else the copy would
// overwrite the target's system partition or its file system. Refused before the confirmation.
bool CheckMpegRange(const DriveInfo& source, const DriveInfo& target) {
  uint32_t start = source.p2_start;
  uint64_t system_end = uint64_t{source.p1_length} + 2;
  if (start < system_end) {
    ShowError(
        Format("*** ERROR: The 2nd partition of disk %s starts at sector %u,\n"
               "           inside its partition table and system partition\n"
               "           (sectors 0 to %" PRIu64 ").",
               ShownPath(source.device_path).c_str(), start, system_end - 1));
    return false;
  }
  if (target.is_replaytv && target.p2_start != start) {
    ShowError(
        Format("*** ERROR: The 2nd partition of disk %s starts at sector %u,\n"
               "           that of disk %s at sector %u: the copy would overwrite\n"
               "           its system partition or its file system.",
               ShownPath(target.device_path).c_str(), target.p2_start,
               ShownPath(source.device_path).c_str(), start));
    return false;
  }
  // A start at or beyond the end of either drive leaves no range to copy; the unsigned lengths
  // would wrap and the copy would write past the end of the target.
  if (start >= source.size_sectors || start >= target.size_sectors) {
    const DriveInfo& shorter = start >= source.size_sectors ? source : target;
    ShowError(
        Format("*** ERROR: The 2nd partition of disk %s starts at sector %u,\n"
               "           beyond the end of disk %s (%u blocks).",
               ShownPath(source.device_path).c_str(), start, ShownPath(shorter.device_path).c_str(),
               shorter.size_sectors));
    return false;
  }
  return true;
}

// What the copy takes: partition 2 of the source to its end, as far as the target reaches.
uint32_t CopiedBlocks(const DriveInfo& source, const DriveInfo& target) {
  uint32_t end = std::min(source.size_sectors, target.size_sectors);
  return source.p2_start < end ? end - source.p2_start : 0;
}

bool ConfirmMpegCopy(const DriveInfo& source, const DriveInfo& target) {
  return ConfirmProceed(
      Format("You are about to mirror \nthe 2nd partition of disk %s (%s)\nto the 2nd partition of "
             "disk %s (%s).\nTHIS WILL DESTROY ALL CURRENT DATA ON THE 2ND PARTITION OF DISK %s!",
             ShownPath(source.device_path).c_str(), source.model.c_str(),
             ShownPath(target.device_path).c_str(), target.model.c_str(),
             ShownPath(target.device_path).c_str()) +
      UndoBulkCopyNote(target.device_path, source.p2_start, CopiedBlocks(source, target)));
}

void LogRangeLength(const char* which, const std::string& path, uint32_t blocks) {
  LogLine(Format("  2nd partition of %s disk (%s) is %u num_blocks (%uMB)", which,
                 ShownPath(path).c_str(), blocks, blocks / 2048));
}

}  // namespace

int CopyMpegPartition(int source_index, int target_index) {
  if (!CheckSourceAndTarget(source_index, target_index))
    return -1;
  const DriveInfo& source = DriveAt(source_index);
  const DriveInfo& target = DriveAt(target_index);
  // Drive 1 of a pair holds only the start of its partition 2: refused before any question.
  if (!CheckSourceNotDriveOneOfAPair(source))
    return -1;
  if (!AskMpegQuestions(source, target) || !CheckMpegRange(source, target) ||
      !ConfirmMpegCopy(source, target)) {
    return -1;
  }

  LogBanner({"Copying MPEG Partition"});
  LogLine("");
  uint32_t start = source.p2_start;
  uint32_t n = source.size_sectors - start;
  uint32_t m = target.size_sectors - start;
  LogRangeLength("source", source.device_path, n);
  LogRangeLength("target", target.device_path, m);
  if (m < n && !ConfirmProceed("*** WARNING: 2nd partition of Source disk is BIGGER THAN 2nd "
                               "partition\n             of Target disk!\n             It is "
                               "unlikely that shows can be copied properly.")) {
    return -1;
  }
  uint32_t count = CopiedBlocks(source, target);
  if (CopyAndVerifyIfAsked(source.device_path, target.device_path, start, start, count) != 0)
    return -1;

  LogCopyCompleteBanner();
  LogAndShow(
      "NOTE: You MUST now apply the patch in order to make the disk work!\n      DO NOT "
      "CHOOSE TO RESET the MPEG partition\n      when applying the patch!",
      "Copy Complete");
  return 0;
}

}  // namespace quillmar
