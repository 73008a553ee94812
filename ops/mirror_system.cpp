// Copies the system area of a recorder disk (sector 0, sector 1, partition 1 and the head of
// partition 2) to the same sectors of another drive.
#include <cinttypes>

#include "app/log.h"
#include "disk/copy_engine.h"
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
  return ConfirmProceed(Format(
      "You are about to mirror disk %s (%s)\nto disk %s (%s).\n             THIS WILL DESTROY "
      "ALL DATA ON DISK %s!\n",
      source.device_path.c_str(), source.model.c_str(), target.device_path.c_str(),
      target.model.c_str(), target.device_path.c_str()));
}

}  // namespace

int MirrorSystemPartition(int source_index, int target_index) {
  if (!CheckSourceAndTarget(source_index, target_index))
    return -1;
  const DriveInfo& source = DriveAt(source_index);
  const DriveInfo& target = DriveAt(target_index);
  if (!AskMirrorQuestions(source, target))
    return -1;

  LogBanner({"Copying Partition Table and", "        System Partition"});
  LogLine("");
  // A system area that does not fit on the source (not a recorder's layout) is refused before
  // anything is written: the copy would stop at the source's end with part of the target
  // overwritten, or, with a 32-bit count that wraps, copy a few sectors and call them complete.
  uint64_t count = uint64_t{source.p1_length} + kSystemAreaExtraSectors;
  if (count > source.size_sectors) {
    ShowError(Format("*** ERROR: The system area of disk %s (%" PRIu64 " blocks) is larger\n"
                     "           than the disk itself (%u blocks).",
                     source.device_path.c_str(), count, source.size_sectors));
    return -1;
  }
  if (CopyBlocks(source.device_path, target.device_path, 0, 0, static_cast<uint32_t>(count)) != 0 ||
      VerifyCopyIfAsked(source.device_path, target.device_path, 0, 0, count) != 0) {
    return -1;
  }

  LogCopyCompleteBanner();
  LogAndShow("Copy Complete", "Done");
  return 0;
}

}  // namespace quillmar
