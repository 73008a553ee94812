#include "ops/patch_layout.h"

#include <algorithm>
#include <cinttypes>
#include <limits>

#include "app/log.h"
#include "app/settings.h"
#include "app/shown_path.h"
#include "format/byte_order.h"
#include "format/fs_blocks.h"
#include "ops/sector_io.h"

namespace quillmar {
namespace {

constexpr int64_t kSectorSize = 512;
// The formatter refuses clusters smaller than one 1024-byte metadata block.
constexpr int32_t kMinFormatterClusterSize = 1024;
constexpr int64_t kLastSector32 = std::numeric_limits<uint32_t>::max();

}  // namespace

PatchLayout PlanPatchLayout(uint32_t first_sectors, uint32_t second_sectors,
                            uint32_t second_reserve, uint32_t p1len, uint32_t photo) {
  PatchLayout layout;
  layout.p2start = int64_t{p1len} + 2;
  layout.p2len = int64_t{first_sectors} + second_sectors - p1len - 2 - second_reserve - photo;
  layout.photo = photo;
  layout.p3start = photo == 0 ? 0 : layout.p2start + layout.p2len;
  return layout;
}

std::string CheckPatchLayout(const PatchLayout& layout, uint32_t first_sectors,
                             uint32_t second_sectors, uint32_t second_reserve, bool formats_photo) {
  if (layout.p2len < kMinMpegSectors) {
    return Format(
        "*** ERROR: The disk is too small for its system partition%s:\n"
        "           partition 2 would have %" PRId64 " blocks, at least %" PRId64 " are needed.",
        layout.photo > 0 ? " and its Photo partition" : "", layout.p2len, kMinMpegSectors);
  }
  if (layout.p2start + layout.p2len + layout.photo - 1 > kLastSector32) {
    return Format(
        "*** ERROR: The disks are too large: the partitions would end beyond\n"
        "           sector %" PRId64 ".",
        kLastSector32);
  }
  if (second_sectors != 0 && layout.photo > 0 && layout.p3start < int64_t{first_sectors}) {
    return Format("*** ERROR: The Photo partition (%" PRId64
                  " blocks) does not fit on drive 2\n"
                  "           (%" PRId64 " blocks available there).",
                  layout.photo, int64_t{second_sectors} - second_reserve);
  }
  if (formats_photo) {
    int64_t needed = kPhotoMetadataClusters * (PhotoClusterSize(layout.photo) / kSectorSize);
    if (layout.photo < needed) {
      return Format("*** ERROR: The Photo partition (%" PRId64
                    " blocks) is too small to be\n"
                    "           formatted: at least %" PRId64 " blocks are needed.",
                    layout.photo, needed);
    }
  }
  return "";
}

std::string CheckMpegMetadataFits(const PatchLayout& layout, uint32_t first_sectors,
                                  uint64_t metadata_bytes, uint32_t cluster_size) {
  int64_t end = std::min(layout.p2start + layout.p2len, int64_t{first_sectors});
  int64_t room = end - layout.p2start;
  auto needed = static_cast<int64_t>((metadata_bytes + kSectorSize - 1) / kSectorSize);
  if (room >= needed)
    return "";
  return Format("*** ERROR: Partition 2 has %" PRId64
                " blocks on drive 1, too few for its file\n"
                "           system with clusters of %u bytes: at least %" PRId64 " are needed.",
                room < 0 ? int64_t{0} : room, cluster_size, needed);
}

int32_t ReadOldClusterSize(int fd, int64_t p2start, bool rtv4000) {
  Sector system_block{};
  uint64_t offset = static_cast<uint64_t>(p2start) * kBlockSize;
  if (!ReadAtQuietly(fd, offset, system_block))
    return 0;
  if (rtv4000)
    Rtv4000Byteswap(system_block);
  return static_cast<int32_t>(GetBe32(system_block, kSystemClusterSize));
}

std::string CheckInPlacePatchFits(const PatchLayout& layout, uint32_t first_sectors,
                                  int32_t old_cluster_size) {
  if (old_cluster_size < kMinOldClusterSize || old_cluster_size > kMaxOldClusterSize)
    return "";
  return CheckMpegMetadataFits(layout, first_sectors,
                               2 * static_cast<uint64_t>(old_cluster_size) + kBlockSize,
                               static_cast<uint32_t>(old_cluster_size));
}

std::string CheckReformatFits(const PatchLayout& layout, uint32_t first_sectors) {
  uint32_t cluster_size = MpegReformatClusterSize(layout.p2len, g_mpegClusterOverride);
  return CheckMpegMetadataFits(layout, first_sectors, 4 * uint64_t{cluster_size} + kFsBlockSize,
                               cluster_size);
}

uint32_t MpegReformatClusterSize(int64_t p2len, int32_t override_bytes) {
  int32_t cleared = override_bytes & ~int32_t{0x1FF};
  // The override is compared with the sector count as it stands, as the command line documents;
  // below one metadata block the formatter would refuse it, so the ladder applies instead.
  if (cleared >= kMinFormatterClusterSize && cleared <= p2len) {
    return static_cast<uint32_t>(cleared);
  }
  if (p2len < 0x4000000)
    return 0x40000;  // 262,144
  if (p2len < 0x8000000)
    return 0x80000;  // 524,288
  // Every step of the ladder doubles both the cluster size and the partition size it serves, so
  // that no partition gets more than 131,072 clusters; 1 MiB clusters thus serve partitions up
  // to 268,435,456 sectors (128 GiB) and 2 MiB clusters everything beyond. Standard-order drives
  // are limited below that bound; only RTV4000 drives and two-drive systems pass it.
  if (p2len < 0x10000000)
    return 0x100000;  // 1,048,576
  return 0x200000;    // 2,097,152
}

uint32_t PhotoClusterSize(int64_t photo) {
  if (photo < 300000)
    return 8192;
  if (photo < 600000)
    return 16384;
  if (photo < 1200000)
    return 32768;
  return 65536;
}

std::string RefusalFor(const std::string& refusal, const std::string& first_device,
                       const std::string& second_device) {
  if (second_device.empty())
    return refusal + Format("\n           Disk: %s", ShownPath(first_device).c_str());
  return refusal + Format("\n           Disk 1 of 2: %s\n           Disk 2 of 2: %s",
                          ShownPath(first_device).c_str(), ShownPath(second_device).c_str());
}

}  // namespace quillmar
