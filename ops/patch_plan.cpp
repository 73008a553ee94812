#include "ops/patch_plan.h"

#include <cinttypes>

#include "base/log.h"
#include "base/settings.h"
#include "disk/block_io.h"
#include "disk/sector_io.h"
#include "disk/unique_fd.h"
#include "format/formatter.h"
#include "format/fs_blocks.h"
#include "format/fs_checks.h"
#include "format/mpeg_reset.h"

namespace quillmar {
namespace {

uint64_t ByteOffset(int64_t sector) {
  return static_cast<uint64_t>(sector) * kBlockSize;
}

// The system block and both superblock copies of the old file system, once its cluster size is
// real and cluster 1 holds a superblock; all inside partition 2.
void PlanInPlacePatch(int fd, PatchPlan& plan, uint64_t partition, uint64_t partition_end) {
  WritePlan& writes = plan.writes;
  const std::string& device = plan.first_device;
  if (!CheckClusterSize(writes, device, plan.old_cluster_size))
    return;
  uint64_t cluster = plan.old_cluster_size;
  Sector system_block{}, superblock{};
  ReadAtQuietly(fd, partition, system_block);
  ReadAtQuietly(fd, partition + cluster, superblock);
  if (plan.rtv4000) {
    Rtv4000Byteswap(system_block);
    Rtv4000Byteswap(superblock);
  }
  if (!CheckSuperblock(writes, device, superblock) ||
      !CheckCountPatchable(writes, device, system_block, superblock, plan.old_cluster_size)) {
    return;
  }
  writes.AddWrite(
      {device, partition, kBlockSize, "the system block", "partition 2", partition_end});
  writes.AddWrite(
      {device, partition + cluster, kBlockSize, "the superblock", "partition 2", partition_end});
  writes.AddWrite({device, partition + 2 * cluster, kBlockSize, "the superblock copy",
                   "partition 2", partition_end});
}

// The new layout gives the drive all of its sectors: it must hold them (a drive that shrank since
// it was listed would get partitions past its end).
void CheckDriveHolds(WritePlan& writes, const std::string& device, uint32_t sectors) {
  uint64_t bytes = uint64_t{sectors} * kBlockSize;
  uint64_t holds = writes.DriveBytes(device);
  writes.Check({device, "its size in the new layout", bytes, holds == bytes,
                Format("the drive holds %" PRIu64 " bytes", holds),
                "*** ERROR: The drive is smaller than the new layout"});
}

}  // namespace

PhotoFormat PlacePhotoFormat(const PatchPlan& plan) {
  const PatchLayout& layout = plan.layout;
  PhotoFormat format;
  format.cluster_size = PhotoClusterSize(layout.photo);
  format.clusters = static_cast<uint64_t>(layout.photo) / (format.cluster_size / kBlockSize);
  if (plan.second_sectors == 0) {
    format.device = plan.first_device;
    format.offset = ByteOffset(layout.p3start);
    return format;
  }
  // Joined sector L >= first_sectors lies on drive 2 at L - first_sectors + second_reserve.
  format.device = plan.second_device;
  format.offset = ByteOffset(layout.p3start - int64_t{plan.first_sectors} + plan.second_reserve);
  return format;
}

void PlanPatchWrites(int fd, PatchPlan& plan) {
  WritePlan& writes = plan.writes;
  const PatchLayout& layout = plan.layout;
  const std::string& first = plan.first_device;
  writes.AddDrive(first, fd, uint64_t{plan.first_sectors} * kBlockSize);
  CheckDriveHolds(writes, first, plan.first_sectors);
  writes.AddWrite(first, 0, kBlockSize, "the partition block");
  if (plan.second_sectors == 0) {
    writes.AddWrite(first, kBlockSize, kBlockSize, "the volume sequence block");
  } else {
    UniqueFd second = UniqueFd::Open(plan.second_device, OpenMode::kReadOnly);
    writes.AddDrive(plan.second_device, second.get(), uint64_t{plan.second_sectors} * kBlockSize);
    CheckDriveHolds(writes, plan.second_device, plan.second_sectors);
  }

  uint64_t partition = ByteOffset(layout.p2start);
  uint64_t partition_end = ByteOffset(layout.p2start + layout.p2len);
  plan.old_cluster_size = ReadOldClusterSize(fd, layout.p2start, plan.rtv4000);
  if (plan.action == MpegAction::kReformat) {
    plan.reformat = ChooseMpegClusterSize(layout.p2len, g_mpegClusterOverride);
    uint64_t clusters = static_cast<uint64_t>(layout.p2len) / (plan.reformat.bytes / kBlockSize);
    PlanFormatWrites(writes, first, partition, plan.reformat.bytes, clusters, 0, "partition 2");
  } else {
    PlanInPlacePatch(fd, plan, partition, partition_end);
    RootReset reset;
    if (plan.action == MpegAction::kReset && writes.Broken() == nullptr) {
      PlanRootReset(fd, first, partition, partition_end - partition, plan.rtv4000, false, writes,
                    reset);
    }
  }
  if (plan.reformat_photo) {
    PhotoFormat photo = PlacePhotoFormat(plan);
    PlanFormatWrites(writes, photo.device, photo.offset, photo.cluster_size, photo.clusters, 2,
                     "partition 3");
  }
}

}  // namespace quillmar
