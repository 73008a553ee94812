// The patch: rewrites the partition block so that partition 2 fills the drive (or both drives
// of a two-drive system) up to an optional Photo partition at the very end, then brings the MPEG
// file system in line by patching its cluster count, resetting its root directory or
// reformatting it, and formats the Photo partition when asked to.
#include <algorithm>
#include <cinttypes>
#include <vector>

#include "base/log.h"
#include "base/settings.h"
#include "base/shown_path.h"
#include "disk/block_io.h"
#include "disk/copy_stop.h"
#include "disk/device_io.h"
#include "disk/drive_table.h"
#include "disk/sector_io.h"
#include "disk/undo_recorder.h"
#include "disk/unique_fd.h"
#include "format/checksum.h"
#include "format/formatter.h"
#include "format/fs_blocks.h"
#include "format/fs_checks.h"
#include "format/mpeg_reset.h"
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

// Superblock header fields beyond this length would leave the first half of the block.

uint64_t ByteOffset(int64_t sector) {
  return static_cast<uint64_t>(sector) * kBlockSize;
}

MpegAction AskMpegAction() {
  if (AskYesNo("** Do you want to reset the MPEG partition?\n** Saying 'yes' here increases the "
               "chance that the patch works.\n** Say 'no' here if you want to try to preserve "
               "your shows.",
               "Reset MPEG partition") != kIdYes) {
    return MpegAction::kKeep;
  }
  if (AskYesNo("** Do you want to completely reformat the MPEG partition\n** using a LARGER "
               "cluster size?\n** For 4xxx units it is recommended to say 'no' here\n** For "
               "older units it is recommended to say 'yes' here",
               "Reformat MPEG partition") == kIdYes) {
    return MpegAction::kReformat;
  }
  return MpegAction::kReset;
}

bool AskReformatPhoto() {
  return AskYesNo(
             "** Do you want to reformat the Photo partition?\nThis is REQUIRED unless you "
             "have already copied the Photo partition",
             "Reformat photo partition") == kIdYes;
}

void LogPatchTargets(const std::string& first_device, const std::string& second_device,
                     uint32_t first_sectors, uint32_t second_sectors) {
  if (second_sectors == 0) {
    LogLine(Format("   Target disk is %s (%u sectors)", ShownPath(first_device).c_str(),
                   first_sectors));
    return;
  }
  LogLine(
      Format("   Disk 1 of 2 is %s (%u sectors)", ShownPath(first_device).c_str(), first_sectors));
  LogLine(Format("   Disk 2 of 2 is %s (%u sectors)", ShownPath(second_device).c_str(),
                 second_sectors));
}

// Reads sector 0 and converts it to its standard-order image; rtv4000 tells the order found.
bool ReadPartitionBlock(int fd, Sector& block, bool& rtv4000) {
  LogLine("***** Patching partition block...");
  if (!ReadAt(fd, 0, block))
    return false;
  rtv4000 = IsRtv4000Order(block);
  if (rtv4000) {
    LogLine("  Enabling RTV4000 byteswapping functions");
    Rtv4000Byteswap(block);
  }
  LogLine("  Original partition table values:");
  for (int n = 1; n <= 4; ++n)
    LogLine(RenderPartitionEntry(n, ReadPartitionEntry(block, n)));
  return true;
}

// Writes a block held in standard order, converted to the disk's order.
template <size_t N>
bool WriteInDiskOrder(int fd, uint64_t offset, std::array<uint8_t, N> block, bool rtv4000) {
  if (rtv4000)
    Rtv4000Byteswap(block);
  return WriteAt(fd, offset, block);
}

// Sets the entries of the new layout: partition 3 moved to the end (or cleared), partition 4
// cleared, partition 2 after partition 1. Entry 1 and every byte outside the entries stay.
void RewriteEntries(Sector& block, const PatchLayout& layout) {
  if (layout.photo_entry) {
    PartitionEntry photo = ReadPartitionEntry(block, 3);
    photo.start = static_cast<uint32_t>(layout.p3start);
    photo.length = static_cast<uint32_t>(layout.photo);
    WritePartitionEntry(block, 3, photo);
    LogLine(Format("  Changing partition 3 start sector to %" PRId64 " (0x%" PRIx64 ")",
                   layout.p3start, layout.p3start));
    LogLine(Format("  Photo partition size will be %" PRId64 " blocks (%" PRId64 "MB)",
                   layout.photo, layout.photo / 2048));
  } else {
    LogLine("  Clearing 3rd and 4th partition settings");
    ClearPartitionEntry(block, 3);
  }
  ClearPartitionEntry(block, 4);
  LogLine(Format("  Partition 2 will be %" PRId64 " (0x%" PRIx64 ") blocks.", layout.p2len,
                 layout.p2len));
  PartitionEntry mpeg = ReadPartitionEntry(block, 2);
  mpeg.type = kRecorderPartitionType;
  mpeg.start = static_cast<uint32_t>(layout.p2start);
  mpeg.length = static_cast<uint32_t>(layout.p2len);
  WritePartitionEntry(block, 2, mpeg);
}

// Sector 1 of a single drive: the volume sequence block loses its magic.
bool ClearVolumeSequenceBlock(int fd) {
  LogLine("***** Clearing volume sequence block...");
  Sector block{};
  if (!ReadAt(fd, kBlockSize, block))
    return false;
  InvalidateVolumeSequence(block);
  if (!WriteAt(fd, kBlockSize, block))
    return false;
  LogLine("");
  return true;
}

// The new cluster count in the system block and in both superblock copies, with the
// superblock's checks recomputed. 0, or -1 when a block could not be read or written.
int PatchClusterCountInPlace(int fd, const PatchLayout& layout, bool rtv4000,
                             uint32_t old_cluster_size) {
  LogLine("***** Reading signature and FAT blocks...");
  uint64_t partition = ByteOffset(layout.p2start);
  uint64_t cluster = static_cast<uint64_t>(old_cluster_size);
  Sector system_block{};
  Sector superblock{};
  if (!ReadAt(fd, partition, system_block))
    return -1;
  if (rtv4000)
    Rtv4000Byteswap(system_block);
  if (!ReadAt(fd, partition + cluster, superblock))
    return -1;
  if (rtv4000)
    Rtv4000Byteswap(superblock);

  LogLine("***** Patching signature and FAT blocks...");
  auto clusters = static_cast<uint32_t>(layout.p2len / (old_cluster_size / 512));
  LogLine(Format("  Number of clusters is 0x%x.", clusters));
  PutBe32(system_block, kSystemClusterCount + 4, clusters);
  if (!WriteInDiskOrder(fd, partition, system_block, rtv4000))
    return -1;

  PutBe32(superblock, kSuperClusterCount + 4, clusters);
  // The plan refused a CRC length the patch cannot recompute; the block's end bounds it anyway.
  uint32_t crc_length = std::min(GetBe32(superblock, kHeaderCrcLength), kMaxPatchedCrcLength);
  uint16_t crc = Crc16(std::span<const uint8_t>(superblock).subspan(kHeaderSize, crc_length));
  LogLine(Format("  CRC is 0x%04x", crc));
  PutBe16(superblock, kHeaderCrc, crc);
  uint8_t xor_byte = HeaderXor(superblock);
  LogLine(Format("  XOR byte is 0x%02x", xor_byte));
  superblock[kHeaderXor] = xor_byte;
  if (rtv4000)
    Rtv4000Byteswap(superblock);
  if (!WriteAt(fd, partition + cluster, superblock))
    return -1;
  if (!WriteAt(fd, partition + 2 * cluster, superblock))
    return -1;
  return 0;
}

int ReformatMpegPartition(const PatchPlan& plan) {
  const PatchLayout& layout = plan.layout;
  uint32_t cluster_size = plan.reformat.bytes;
  if (!plan.reformat.why.empty())
    LogLine(plan.reformat.why);
  LogLine(Format("  Partition 2 cluster size will be %d bytes.", static_cast<int>(cluster_size)));
  uint64_t clusters = static_cast<uint64_t>(layout.p2len) / (cluster_size / 512);
  return FormatPartition(plan.first_device, ByteOffset(layout.p2start), plan.rtv4000, cluster_size,
                         clusters, "mpeg", {});
}

int FormatPhotoPartition(const PatchPlan& plan) {
  PhotoFormat photo = PlacePhotoFormat(plan);
  return FormatPartition(photo.device, photo.offset, plan.rtv4000, photo.cluster_size,
                         photo.clusters, "storage", {"tmp", "Photo"});
}

// Everything the patch writes through the first drive's own descriptor: the partition block,
// the volume sequence block of a single drive and the in-place patch of the MPEG file system.
// true, or false when a block could not be written (reported, and recorded in steps).
constexpr const char* kClusterCountStep = "the cluster count of the MPEG file system";

// The partition table's step, named for the box: a join's box names drive 2's table as well.
const char* PartitionTableStep(const PatchPlan& plan) {
  return plan.second_sectors == 0 ? "the partition table" : "drive 1's partition table";
}

// The first drive's steps from failed on, as not done.
bool StopFirstDrive(const PatchPlan& plan, OperationSteps& steps, const char* failed) {
  steps.Skip(failed);
  if (plan.action != MpegAction::kReformat)
    steps.Skip(kClusterCountStep);
  return false;
}

bool PatchFirstDrive(int fd, const PatchPlan& plan, OperationSteps& steps) {
  bool in_place = plan.action != MpegAction::kReformat;
  auto stop = [&](const char* failed) { return StopFirstDrive(plan, steps, failed); };
  Sector block = plan.partition_block;
  RewriteEntries(block, plan.layout);
  if (!WriteInDiskOrder(fd, 0, block, plan.rtv4000))
    return stop(PartitionTableStep(plan));
  steps.Run(true, PartitionTableStep(plan));
  LogLine("");
  if (plan.second_sectors == 0 && !ClearVolumeSequenceBlock(fd))
    return stop("the volume sequence block cleared");
  LogLine(Format("  Partition 2 cluster size was %d bytes.",
                 static_cast<int32_t>(plan.old_cluster_size)));
  if (!in_place)
    return true;
  return steps.Run(
      PatchClusterCountInPlace(fd, plan.layout, plan.rtv4000, plan.old_cluster_size) == 0,
      kClusterCountStep);
}

// The names of the steps after the first drive's own writes.
constexpr const char* kReformatStep = "the MPEG partition reformatted";
constexpr const char* kResetStep = "the MPEG partition reset";
constexpr const char* kPhotoStep = "the Photo partition formatted";

// The steps that follow the first drive's writes, named as not done when those failed.
void SkipLaterSteps(const PatchPlan& plan, OperationSteps& steps) {
  if (plan.action == MpegAction::kReformat)
    steps.Skip(kReformatStep);
  else if (plan.action == MpegAction::kReset)
    steps.Skip(kResetStep);
  if (plan.reformat_photo)
    steps.Skip(kPhotoStep);
}

// Whether a file system begins where the Photo partition moves to (copied there with copy-photo).
bool PhotoFileSystemAtNewPlace(const PatchPlan& plan) {
  const PhotoFormat place = PlacePhotoFormat(plan);
  UniqueFd fd = UniqueFd::Open(place.device, OpenMode::kReadOnly);
  Sector block{};
  if (!fd.valid() || !ReadAtQuietly(fd.get(), place.offset, block))
    return false;
  if (plan.rtv4000)
    Rtv4000Byteswap(block);
  return GetBe32(block, kSystemMagic) == kSystemBlockMagic;
}

bool OpenFirstDrive(PatchPlan& plan) {
  plan.first_fd = UniqueFd::Open(plan.first_device, OpenMode::kReadWrite);
  if (plan.first_fd.valid())
    return true;
  ShowError(OpenFailureText(plan.first_device));
  return false;
}

}  // namespace

int PatchSingleDrive(int target, uint32_t photo_request) {
  if (!IsDriveIndex(target)) {
    ShowError("You must select a disk first.");
    return -1;
  }
  if (!CheckWritableSectors(target))
    return -1;
  const DriveInfo& drive = DriveAt(target);
  if (drive.system_disk) {
    ShowError("Selected drive appears to be a System Disk!!!\nYOU CAN NOT PATCH A SYSTEM DISK!!!");
    return -1;
  }
  if (!drive.is_replaytv && !ConfirmProceed("Target disk does not seem to be a ReplayTV disk.")) {
    return -1;
  }
  if (drive.patched && !ConfirmProceed("Target disk seems to be already patched."))
    return -1;
  if (IsDriveOneOfAPair(drive) &&
      !ConfirmProceed(Format("Disk %s is drive 1 of a two-drive system. Patched alone, it leaves\n"
                             "the system: the recordings on drive 2 are lost.",
                             ShownPath(drive.device_path).c_str()))) {
    return -1;
  }
  if (!ConfirmProceed(Format("You are about to patch disk %s (%s).",
                             ShownPath(drive.device_path).c_str(), drive.model.c_str()))) {
    return -1;
  }
  uint32_t sectors = drive.size_sectors;
  if (!drive.rtv4000 && sectors > k137GbSectors) {
    LogLine(Format("***** Limiting disk (%s) to 137GB (actual size is %dGB)",
                   ShownPath(drive.device_path).c_str(), static_cast<int>(drive.size_gb)));
    sectors = k137GbSectors;
  }
  return PatchDisk(drive.device_path, "", sectors, 0, photo_request, 0);
}

int PreparePatch(PatchPlan& plan) {
  LogBanner({"PATCHING DISK"});
  LogLine("");
  LogPatchTargets(plan.first_device, plan.second_device, plan.first_sectors, plan.second_sectors);
  if (!OpenFirstDrive(plan))
    return -1;
  int fd = plan.first_fd.get();
  if (!ReadPartitionBlock(fd, plan.partition_block, plan.rtv4000))
    return -1;

  // A block without its signature is not a partition table the recorder wrote: patching it would
  // report a disk complete that does not verify.
  if (plan.partition_block[510] != 0x55 || plan.partition_block[511] != 0xAA) {
    ShowError(RefusalFor("*** ERROR: The partition block has no signature (55 AA at byte 510).",
                         plan.first_device, plan.second_device));
    return -1;
  }
  // Partition 2 starts after the recorder's system partition. Without one (a blank disk, drive 2
  // of a pair) the patch would put a file system at sector 2 and report a disk complete that no
  // recorder starts from.
  const PartitionEntry system = ReadPartitionEntry(plan.partition_block, 1);
  if (system.type != kRecorderPartitionType || system.length == 0) {
    ShowError(
        RefusalFor("*** ERROR: Partition 1 is not a recorder's system partition: copy the\n"
                   "           system area onto the disk first.",
                   plan.first_device, plan.second_device));
    return -1;
  }
  uint32_t p1len = system.length;
  plan.action = AskMpegAction();
  uint32_t photo = 0;
  PartitionEntry photo_entry = ReadPartitionEntry(plan.partition_block, 3);
  // A Photo entry of any length, even 0, moves to the end of the drive.
  bool keeps_photo = plan.rtv4000 && photo_entry.type == kRecorderPartitionType;
  if (keeps_photo) {
    plan.reformat_photo = AskReformatPhoto();
    photo =
        plan.photo_request != 0 && plan.reformat_photo ? plan.photo_request : photo_entry.length;
  }
  // A stop (Ctrl-C) at one of the questions answered it No; that is no choice to go on with.
  if (CopyStopRequested()) {
    LogLine("*** Patch stopped before its first write");
    return -1;
  }
  plan.layout = PlanPatchLayout(plan.first_sectors, plan.second_sectors, plan.second_reserve, p1len,
                                photo, keeps_photo);
  // A layout that does not fit, or a write plan that fails, is refused before the first write.
  std::string refusal = CheckPatchLayout(plan.layout, plan.first_sectors, plan.second_sectors,
                                         plan.second_reserve, plan.reformat_photo);
  if (!refusal.empty()) {
    ShowError(RefusalFor(refusal, plan.first_device, plan.second_device));
    return -1;
  }
  // Moved and not formatted, the Photo partition needs its file system at the new place (copied
  // there first); without one the recorder's photos are gone and the disk does not verify.
  if (keeps_photo && !plan.reformat_photo && photo != 0 && !PhotoFileSystemAtNewPlace(plan) &&
      !ConfirmProceed(
          Format("*** WARNING: No Photo file system lies where partition 3 moves to (%s,\n"
                 "             sector %" PRIu64 "). Copy it there first (copy-photo), or\n"
                 "             reformat it: without one the photos are lost.",
                 ShownPath(PlacePhotoFormat(plan).device).c_str(),
                 PlacePhotoFormat(plan).offset / kBlockSize))) {
    return -1;
  }
  // Kept, the recordings at the end of a partition 2 that shrinks (a larger Photo partition, a
  // lower limit) are lost: asked first.
  const uint32_t p2_now = ReadPartitionEntry(plan.partition_block, 2).length;
  if (plan.action == MpegAction::kKeep && plan.layout.p2len < p2_now &&
      !ConfirmProceed(Format("*** WARNING: Partition 2 of disk %s shrinks from %u to %" PRId64
                             " blocks:\n             the recordings in its last %" PRId64
                             " MB are lost.",
                             ShownPath(plan.first_device).c_str(), p2_now, plan.layout.p2len,
                             (p2_now - plan.layout.p2len) / 2048))) {
    return -1;
  }
  PlanPatchWrites(fd, plan);
  refusal = plan.writes.Refusal();
  if (!refusal.empty()) {
    ShowError(refusal);
    return -1;
  }
  ExpectPlannedWrites(plan.writes);
  return 0;
}

int ApplyPatch(PatchPlan& plan, OperationSteps& steps) {
  if (!plan.first_fd.valid() && !OpenFirstDrive(plan)) {
    StopFirstDrive(plan, steps, PartitionTableStep(plan));
    SkipLaterSteps(plan, steps);
    return steps.Close();
  }
  bool patched = PatchFirstDrive(plan.first_fd.get(), plan, steps);
  // Whatever was written is flushed before the descriptor closes, also when the patch stops.
  bool flushed = FlushAndClose(plan.first_fd) == 0;
  if (!flushed)
    steps.Skip("the first drive's writes made durable (flush failed)");
  if (!patched || !flushed) {
    SkipLaterSteps(plan, steps);
    return steps.Close();
  }

  if (plan.action == MpegAction::kReformat)
    steps.Run(ReformatMpegPartition(plan) == 0, kReformatStep);
  else if (plan.action == MpegAction::kReset)
    steps.Run(ResetMpegPartition(plan.first_device) == 0, kResetStep);
  if (plan.reformat_photo)
    steps.Run(FormatPhotoPartition(plan) == 0, kPhotoStep);
  if (steps.Close() != 0)
    return -1;
  LogBanner({"PATCH COMPLETE"});
  LogAndShow("Patch complete", "Done");
  return 0;
}

int PatchDisk(const std::string& first_device, const std::string& second_device,
              uint32_t first_sectors, uint32_t second_sectors, uint32_t photo_request,
              uint32_t second_reserve) {
  PatchPlan plan;
  plan.first_device = first_device;
  plan.second_device = second_device;
  plan.first_sectors = first_sectors;
  plan.second_sectors = second_sectors;
  plan.second_reserve = second_reserve;
  plan.photo_request = photo_request;
  if (PreparePatch(plan) != 0)
    return -1;
  OperationSteps steps("patch");
  return ApplyPatch(plan, steps);
}

}  // namespace quillmar
