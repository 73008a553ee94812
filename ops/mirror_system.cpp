// Copies the system area of a recorder disk (sector 0, sector 1, partition 1 and the head of
// partition 2) to the same sectors of another drive.
#include <cinttypes>
#include <string>

#include "base/log.h"
#include "base/shown_path.h"
#include "disk/drive_table.h"
#include "ops/banner.h"
#include "ops/drive_checks.h"
#include "ops/operations.h"
#include "ops/verify.h"

namespace quillmar {
namespace {

// Sectors 0 and 1 before partition 1, and the first 10,240 sectors (5 MiB) of partition 2 that
// hold the MPEG file system's metadata blocks.
constexpr uint32_t kSystemAreaExtraSectors = 2 + 10240;

bool AskMirrorQuestions(const DriveInfo& source, const DriveInfo& target) {
  if (!source.is_replaytv && !ConfirmProceed(kSourceNotReplayTv))
    return false;
  if (static_cast<int32_t>(source.size_gb) > static_cast<int32_t>(target.size_gb) &&
      !ConfirmProceed("Source disk is BIGGER THAN Target disk.")) {
    return false;
  }
  if (target.system_disk && !ConfirmProceed(kTargetSystemDiskWarning))
    return false;
  return true;
}

// The copy's one range, sectors 0 .. count-1 on both drives, must lie on both: past the
// source's end the copy would stop with part of the target overwritten (or, with a 32-bit count
// that wraps, copy a few sectors and call them complete); past the target's end it would grow an
// image file, or stop at the end of a device. Refused before the confirmation.
bool CheckSystemAreaFits(const DriveInfo& source, const DriveInfo& target, uint64_t count) {
  bool on_source = count <= source.size_sectors;
  if (on_source && count <= target.size_sectors)
    return true;
  const DriveInfo& shorter = on_source ? target : source;
  std::string disk = on_source ? "disk " + target.device_path : "the disk itself";
  ShowError(Format("*** ERROR: The system area of disk %s (%" PRIu64 " blocks) is larger\n"
                   "           than %s (%u blocks).",
                   ShownPath(source.device_path).c_str(), count, ShownPath(disk).c_str(),
                   shorter.size_sectors));
  return false;
}

bool ConfirmMirror(const DriveInfo& source, const DriveInfo& target) {
  return ConfirmProceed(Format(
      "You are about to mirror disk %s (%s)\nto disk %s (%s).\n             THIS WILL DESTROY "
      "ALL DATA ON DISK %s!\n",
      ShownPath(source.device_path).c_str(), source.model.c_str(),
      ShownPath(target.device_path).c_str(), target.model.c_str(),
      ShownPath(target.device_path).c_str()));
}

}  // namespace

int MirrorSystemPartition(int source_index, int target_index) {
  if (!CheckSourceAndTarget(source_index, target_index))
    return -1;
  const DriveInfo& source = DriveAt(source_index);
  const DriveInfo& target = DriveAt(target_index);
  uint64_t count = uint64_t{source.p1_length} + kSystemAreaExtraSectors;
  if (!AskMirrorQuestions(source, target) || !CheckSystemAreaFits(source, target, count) ||
      !ConfirmMirror(source, target)) {
    return -1;
  }

  LogBanner({"Copying Partition Table and", "        System Partition"});
  LogLine("");
  if (CopyAndVerifyIfAsked(source.device_path, target.device_path, 0, 0,
                           static_cast<uint32_t>(count)) != 0) {
    return -1;
  }

  LogCopyCompleteBanner();
  LogAndShow("Copy Complete", "Done");
  return 0;
}

}  // namespace quillmar
