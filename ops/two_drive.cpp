// Joins a recorder disk and a second disk into one two-drive system: the second drive gets an
// empty partition table, both drives get a volume sequence block that tells their place in the
// joined sector space, and the patch then spreads partition 2 over both.
#include <vector>

#include "base/log.h"
#include "base/shown_path.h"
#include "disk/block_io.h"
#include "disk/drive_table.h"
#include "disk/sector_io.h"
#include "disk/unique_fd.h"
#include "format/partition_block.h"
#include "format/volume_sequence.h"
#include "ops/banner.h"
#include "ops/drive_checks.h"
#include "ops/operation_steps.h"
#include "ops/operations.h"
#include "ops/patch_layout.h"
#include "ops/patch_plan.h"

namespace quillmar {
namespace {

// Sectors 0 and 1 of drive 2 lie outside the joined space.
constexpr uint32_t kSecondDriveReserve = 2;

uint32_t LimitedSize(const DriveInfo& drive, bool limit) {
  return limit && drive.size_sectors > k137GbSectors ? k137GbSectors : drive.size_sectors;
}

// Whether drive 2 may be drive 1's own partner, joined again: its block places it where this join
// would (the blocks hold no name of their pair, so another pair of the same sizes looks alike).
bool MayBePartners(const DriveInfo& first, const DriveInfo& second) {
  const uint64_t part = uint64_t{LimitedSize(first, !first.rtv4000)} * kBlockSize;
  return first.dual_position == 1 && second.dual_position == 2 && first.pair_drive_bytes == part &&
         second.pair_space_offset == part;
}

// The questions about what a join takes from the drives' present systems: drive 2's recordings
// when it is a recorder's disk or a drive of a pair (unless it may be drive 1's partner: then
// asked as such), and drive 1's own drive 2 when drive 1 is in a pair. False when one is declined.
bool AskAboutPresentSystems(const DriveInfo& first, const DriveInfo& second) {
  const bool partners = MayBePartners(first, second);
  const std::string drive2 = ShownPath(second.device_path);
  if (partners && !ConfirmProceed(Format(
                      "Drive 2 (%s) is drive 2 of a two-drive system that fits drive 1. If it\n"
                      "is drive 1's own partner, joined again it keeps its recordings; if it\n"
                      "belongs to another system, they are lost, and drive 1 leaves its own\n"
                      "system: the recordings on its own drive 2 are lost too.",
                      drive2.c_str()))) {
    return false;
  }
  if (!partners && (second.is_replaytv || second.dual_position != 0) &&
      !ConfirmProceed(
          Format("Drive 2 (%s) belongs to a recorder already: a disk of its own or a\n"
                 "drive of another two-drive system. Joined as drive 2, its recordings\n"
                 "are lost.",
                 drive2.c_str()))) {
    return false;
  }
  return partners || !IsDriveOneOfAPair(first) ||
         ConfirmProceed(Format("Disk %s is drive 1 of a two-drive system. Joined with another\n"
                               "drive 2, it leaves its system: the recordings on its drive 2 are\n"
                               "lost.",
                               ShownPath(first.device_path).c_str()));
}

bool CheckDrives(int drive1, int drive2) {
  if (!IsDriveIndex(drive1)) {
    ShowError("No drive 1 defined.");
    return false;
  }
  const DriveInfo& first = DriveAt(drive1);
  if (first.system_disk) {
    ShowError("Drive 1 of 2 appears to be a System Disk!!!\nYOU CAN NOT PATCH A SYSTEM DISK!!!");
    return false;
  }
  if (!IsDriveIndex(drive2)) {
    ShowError("No drive 2 defined.");
    return false;
  }
  // Joining a drive with itself would clear its own partition table.
  if (drive1 == drive2) {
    ShowError(Format("Drive 1 and Drive 2 MUST NOT be the same (%s).",
                     ShownPath(first.device_path).c_str()));
    return false;
  }
  if (!CheckDrivePair(drive1, drive2, true))
    return false;
  const DriveInfo& second = DriveAt(drive2);
  if (second.system_disk &&
      !ConfirmProceed("Drive 2 of 2 appears to be a System Disk!!!\nYOU SHOULD NEVER OVERWRITE A "
                      "SYSTEM DISK!!!\nPlease remove the partitions from Drive 2 of 2\nand "
                      "reboot your computer before continuing\nCONTINUE AT YOUR OWN RISK, ONLY "
                      "IF YOU KNOW WHAT YOU ARE DOING!!!")) {
    return false;
  }
  if (!first.is_replaytv &&
      !ConfirmProceed("Drive 1 does not appear to contain ReplayTV software.")) {
    return false;
  }
  return AskAboutPresentSystems(first, second);
}

// Drive 2's sectors 0 and 1 and drive 1's sector 1, put into the patch's plan so that they are
// validated with everything the patch writes.
void PlanJoinWrites(WritePlan& plan, const DriveInfo& first, const DriveInfo& second) {
  plan.AddWrite(second.device_path, 0, kBlockSize, "the cleared partition block");
  plan.AddWrite(first.device_path, kBlockSize, kBlockSize, "the volume sequence block");
  plan.AddWrite(second.device_path, kBlockSize, kBlockSize, "the volume sequence block");
}

void LogLimits(const DriveInfo& first, const DriveInfo& second, bool limit) {
  if (limit && first.size_sectors > k137GbSectors) {
    LogLine(Format("***** Limiting drive 1 (%s) to 137GB (actual size is %dGB)",
                   ShownPath(first.device_path).c_str(), static_cast<int>(first.size_gb)));
  }
  if (limit && second.size_sectors > k137GbSectors) {
    LogLine(Format("***** Limiting drive 2 (%s) to 137GB (actual size is %dGB)",
                   ShownPath(second.device_path).c_str(), static_cast<int>(second.size_gb)));
  }
}

// Drive 2's empty partition table and both volume sequence blocks, in drive 1's byte order.
// 0, or -1 when a write failed (reported, with what was done and what not); both drives are
// flushed and closed either way.
int WriteJoinBlocks(const DriveInfo& first, const DriveInfo& second, uint32_t s1, uint32_t s2,
                    bool limit, OperationSteps& steps) {
  UniqueFd fd1 = UniqueFd::Open(first.device_path, OpenMode::kWriteOnly);
  if (!fd1.valid()) {
    ShowError(OpenFailureText(first.device_path));
    return -1;
  }
  UniqueFd fd2 = UniqueFd::Open(second.device_path, OpenMode::kWriteOnly);
  if (!fd2.valid()) {
    ShowError(OpenFailureText(second.device_path));
    return -1;
  }
  auto in_disk_order = [&first](Sector block) {
    if (first.rtv4000)
      Rtv4000Byteswap(block);
    return block;
  };
  bool going = true;  // after a failed write, the later ones are not done
  auto step = [&](const std::string& line, int fd, uint64_t offset, const Sector& block,
                  const char* name) {
    if (!going) {
      steps.Skip(name);
      return;
    }
    LogLine(line);
    going = steps.Run(WriteAt(fd, offset, in_disk_order(block)), name);
  };
  step(Format("***** Clearing partition table on drive %s...",
              ShownPath(second.device_path).c_str()),
       fd2.get(), 0, EmptyPartitionBlock(), "drive 2's partition table cleared");
  if (going)
    LogLimits(first, second, limit);
  step(Format("***** Writing volume sequence block on drive %s...",
              ShownPath(first.device_path).c_str()),
       fd1.get(), kBlockSize, BuildVolumeSequenceBlock(0, s1, s2),
       "drive 1's volume sequence block");
  step(Format("***** Writing volume sequence block on drive %s...",
              ShownPath(second.device_path).c_str()),
       fd2.get(), kBlockSize, BuildVolumeSequenceBlock(1, s1, s2),
       "drive 2's volume sequence block");
  const int flushed1 = FlushAndClose(fd1);
  const int flushed2 = FlushAndClose(fd2);  // both drives, also after a failure
  if (going && flushed1 == 0 && flushed2 == 0)
    return 0;
  if (going)
    steps.Skip("the writes made durable (flush failed)");
  steps.Skip("the patch");
  return steps.Close();
}

}  // namespace

int AddSecondDrive(int drive1, int drive2, uint32_t photo_request) {
  if (!CheckDrives(drive1, drive2))
    return -1;
  const DriveInfo& first = DriveAt(drive1);
  const DriveInfo& second = DriveAt(drive2);

  LogBanner({"ADDING SECOND DRIVE"});
  LogLine("");
  if (!ConfirmProceed(Format("This will attempt to create a 2 drive system\nwhere %s (%s, %dGB) "
                             "is the first drive\nand %s (%s, %dGB) is the second drive.",
                             ShownPath(first.device_path).c_str(), first.model.c_str(),
                             static_cast<int>(first.size_gb), ShownPath(second.device_path).c_str(),
                             second.model.c_str(), static_cast<int>(second.size_gb)))) {
    return -1;
  }
  // Drives in RTV4000 order are never limited; drive 1's order decides for both.
  bool limit = !first.rtv4000;
  uint32_t s1 = LimitedSize(first, limit);
  uint32_t s2 = LimitedSize(second, limit);
  // The patch's questions are answered and its whole plan, with the join's own writes, holds
  // before either drive is written.
  PatchPlan plan;
  plan.first_device = first.device_path;
  plan.second_device = second.device_path;
  plan.first_sectors = s1;
  plan.second_sectors = s2;
  plan.second_reserve = kSecondDriveReserve;
  plan.photo_request = photo_request;
  PlanJoinWrites(plan.writes, first, second);
  if (PreparePatch(plan) != 0)
    return -1;
  plan.first_fd.Close();  // the join opens drive 1 for its own write
  OperationSteps steps("join");
  if (WriteJoinBlocks(first, second, s1, s2, limit, steps) != 0)
    return -1;
  return ApplyPatch(plan, steps);
}

}  // namespace quillmar
