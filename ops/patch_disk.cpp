// The patch: rewrites the partition block so that partition 2 fills the drive (or both drives
// of a two-drive system) up to an optional Photo partition at the very end, then brings the MPEG
// file system in line by patching its cluster count, resetting its root directory or
// reformatting it, and formats the Photo partition when asked to.
#include <cinttypes>

#include "app/log.h"
#include "app/settings.h"
#include "app/shown_path.h"
#include "disk/block_io.h"
#include "disk/device_io.h"
#include "disk/drive_table.h"
#include "disk/unique_fd.h"
#include "format/checksum.h"
#include "format/formatter.h"
#include "format/fs_blocks.h"
#include "format/mpeg_reset.h"
#include "format/partition_block.h"
#include "format/volume_sequence.h"
#include "ops/banner.h"
#include "ops/drive_checks.h"
#include "ops/operations.h"
#include "ops/patch_layout.h"
#include "ops/sector_io.h"

namespace quillmar {
namespace {

enum class MpegAction { kKeep, kReset, kReformat };

// What one run of the patch decided: its inputs, the answers and the layout.
struct PatchPlan {
  std::string first_device;
  std::string second_device;
  uint32_t first_sectors = 0;
  uint32_t second_sectors = 0;
  uint32_t second_reserve = 0;
  uint32_t photo_request = 0;
  bool rtv4000 = false;
  MpegAction action = MpegAction::kKeep;
  bool reformat_photo = false;
  PatchLayout layout;
};

// Superblock header fields beyond this length would leave the first half of the block.
constexpr uint16_t kMaxPatchedCrcLength = 488;

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
  if (layout.photo > 0) {
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
                             int32_t old_cluster_size) {
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
  uint16_t crc_length = GetBe16(superblock, kHeaderCrcLength + 2);
  if (crc_length >= kMaxPatchedCrcLength) {
    LogLine("*** ERROR: Suspicious FAT block, not patching CRC checksum...");
  } else {
    uint16_t crc = Crc16(std::span<const uint8_t>(superblock).subspan(kHeaderSize, crc_length));
    LogLine(Format("  CRC is 0x%04x", crc));
    PutBe16(superblock, kHeaderCrc, crc);
  }
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

int ReformatMpegPartition(const std::string& device, const PatchLayout& layout, bool rtv4000) {
  uint32_t cluster_size = MpegReformatClusterSize(layout.p2len, g_mpegClusterOverride);
  LogLine(Format("  Partition 2 cluster size will be %d bytes.", static_cast<int>(cluster_size)));
  uint64_t clusters = static_cast<uint64_t>(layout.p2len) / (cluster_size / 512);
  return FormatPartition(device, ByteOffset(layout.p2start), rtv4000, cluster_size, clusters,
                         "mpeg", {});
}

int FormatPhotoPartition(const PatchPlan& plan) {
  const PatchLayout& layout = plan.layout;
  uint32_t cluster_size = PhotoClusterSize(layout.photo);
  uint64_t clusters = static_cast<uint64_t>(layout.photo) / (cluster_size / 512);
  if (plan.second_sectors == 0) {
    return FormatPartition(plan.first_device, ByteOffset(layout.p3start), plan.rtv4000,
                           cluster_size, clusters, "storage", {"tmp", "Photo"});
  }
  // Joined sector L >= first_sectors lies on drive 2 at L - first_sectors + second_reserve.
  int64_t on_second = layout.p3start - int64_t{plan.first_sectors} + plan.second_reserve;
  return FormatPartition(plan.second_device, ByteOffset(on_second), plan.rtv4000, cluster_size,
                         clusters, "storage", {"tmp", "Photo"});
}

constexpr int kInvalidClusterSize = -2;

// The blocks the patch writes into the MPEG file system lie inside partition 2 and on drive 1.
std::string CheckMpegMetadataPlace(int fd, const PatchPlan& plan) {
  if (plan.action == MpegAction::kReformat)
    return CheckReformatFits(plan.layout, plan.first_sectors);
  return CheckInPlacePatchFits(plan.layout, plan.first_sectors,
                               ReadOldClusterSize(fd, plan.layout.p2start, plan.rtv4000));
}

// Everything the patch does through the first drive's own descriptor: the partition block, the
// volume sequence block of a single drive and the in-place patch of the MPEG file system.
// 0; -1 when it stopped (reported); kInvalidClusterSize when the old file system's cluster size
// cannot be patched in place (not yet reported).
int PatchPartitionsOnFirstDrive(int fd, PatchPlan& plan) {
  Sector block{};
  if (!ReadPartitionBlock(fd, block, plan.rtv4000))
    return -1;

  uint32_t p1len = ReadPartitionEntry(block, 1).length;
  plan.action = AskMpegAction();
  uint32_t photo = 0;
  PartitionEntry photo_entry = ReadPartitionEntry(block, 3);
  if (plan.rtv4000 && photo_entry.type == kRecorderPartitionType) {
    plan.reformat_photo = AskReformatPhoto();
    photo =
        plan.photo_request != 0 && plan.reformat_photo ? plan.photo_request : photo_entry.length;
  }
  plan.layout =
      PlanPatchLayout(plan.first_sectors, plan.second_sectors, plan.second_reserve, p1len, photo);
  // A layout that does not fit is refused before the first write.
  std::string refusal = CheckPatchLayout(plan.layout, plan.first_sectors, plan.second_sectors,
                                         plan.second_reserve, plan.reformat_photo);
  if (refusal.empty())
    refusal = CheckMpegMetadataPlace(fd, plan);
  if (!refusal.empty()) {
    ShowError(RefusalFor(refusal, plan.first_device, plan.second_device));
    return -1;
  }
  RewriteEntries(block, plan.layout);
  if (!WriteInDiskOrder(fd, 0, block, plan.rtv4000))
    return -1;
  LogLine("");
  if (plan.second_sectors == 0 && !ClearVolumeSequenceBlock(fd))
    return -1;

  Sector system_block{};
  if (!ReadAt(fd, ByteOffset(plan.layout.p2start), system_block))
    return -1;
  if (plan.rtv4000)
    Rtv4000Byteswap(system_block);
  auto old_cluster_size = static_cast<int32_t>(GetBe32(system_block, kSystemClusterSize));
  LogLine(Format("  Partition 2 cluster size was %d bytes.", old_cluster_size));
  if (plan.action == MpegAction::kReformat)
    return 0;
  if (old_cluster_size < kMinOldClusterSize || old_cluster_size > kMaxOldClusterSize) {
    return kInvalidClusterSize;
  }
  return PatchClusterCountInPlace(fd, plan.layout, plan.rtv4000, old_cluster_size);
}

}  // namespace

int PatchSingleDrive(int target, uint32_t photo_request) {
  if (!IsDriveIndex(target)) {
    ShowError("You must select a disk first.");
    return -1;
  }
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

int PatchDisk(const std::string& first_device, const std::string& second_device,
              uint32_t first_sectors, uint32_t second_sectors, uint32_t photo_request,
              uint32_t second_reserve) {
  LogBanner({"PATCHING DISK"});
  LogLine("");
  LogPatchTargets(first_device, second_device, first_sectors, second_sectors);

  UniqueFd fd = UniqueFd::Open(first_device, OpenMode::kReadWrite);
  if (!fd.valid()) {
    ShowError(Format("*** ERROR: Could not open device %s", ShownPath(first_device).c_str()));
    return -1;
  }
  PatchPlan plan;
  plan.first_device = first_device;
  plan.second_device = second_device;
  plan.first_sectors = first_sectors;
  plan.second_sectors = second_sectors;
  plan.second_reserve = second_reserve;
  plan.photo_request = photo_request;
  int patched = PatchPartitionsOnFirstDrive(fd.get(), plan);
  // Whatever was written is flushed before the descriptor closes, also when the patch stops.
  int flushed = FlushAndClose(fd);
  if (patched == kInvalidClusterSize && flushed == 0) {
    ShowError("*** ERROR: Invalid cluster size for partition 2");
  }
  if (patched != 0 || flushed != 0)
    return -1;

  if (plan.action == MpegAction::kReformat) {
    if (ReformatMpegPartition(first_device, plan.layout, plan.rtv4000) != 0)
      return -1;
  } else if (plan.action == MpegAction::kReset) {
    // The reset reports its own refusals and failures; the patch stands either way.
    ResetMpegPartition(first_device);
  }
  if (plan.reformat_photo && FormatPhotoPartition(plan) != 0) {
    return -1;
  }
  LogBanner({"PATCH COMPLETE"});
  LogAndShow("Patch complete", "Done");
  return 0;
}

}  // namespace quillmar
