#include "ops/patch_layout.h"

#include <algorithm>
#include <cinttypes>
#include <limits>

#include "base/byte_order.h"
#include "base/log.h"
#include "base/settings.h"
#include "base/shown_path.h"
#include "disk/sector_io.h"
#include "format/fs_blocks.h"
#include "format/fs_checks.h"

namespace quillmar {
namespace {

constexpr int64_t kSectorSize = 512;
constexpr int64_t kLastSector32 = std::numeric_limits<uint32_t>::max();

}  // namespace

PatchLayout PlanPatchLayout(uint32_t first_sectors, uint32_t second_sectors,
                            uint32_t second_reserve, uint32_t p1len, uint32_t photo,
                            bool keeps_photo_entry) {
  PatchLayout layout;
  layout.p2start = int64_t{p1len} + 2;
  layout.p2len = int64_t{first_sectors} + second_sectors - p1len - 2 - second_reserve - photo;
  layout.photo = photo;
  layout.photo_entry = photo > 0 || keeps_photo_entry;
  layout.p3start = layout.photo_entry ? layout.p2start + layout.p2len : 0;
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

uint32_t ReadOldClusterSize(int fd, int64_t p2start, bool rtv4000) {
  Sector system_block{};
  uint64_t offset = static_cast<uint64_t>(p2start) * kBlockSize;
  if (!ReadAtQuietly(fd, offset, system_block))
    return 0;
  if (rtv4000)
    Rtv4000Byteswap(system_block);
  return GetBe32(system_block, kSystemClusterSize);
}

namespace {

uint32_t LadderClusterSize(int64_t p2len) {
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

}  // namespace

ClusterChoice ChooseMpegClusterSize(int64_t p2len, int32_t override_bytes) {
  uint32_t ladder = LadderClusterSize(p2len);
  if (override_bytes == 0)
    return {ladder, ""};
  int32_t cleared = override_bytes & ~int32_t{0x1FF};
  const char* given = "  Cluster size %d bytes from the command line";
  // Only a real cluster size is written: one the patch can later patch in place again.
  if (cleared <= 0 || !IsRealClusterSize(static_cast<uint32_t>(cleared))) {
    return {ladder,
            Format(given, override_bytes) + Format(" is not used (%s); the table gives %u bytes.",
                                                   ClusterSizeRule().c_str(), ladder)};
  }
  // Compared with the sector count as it stands, as the command line documents.
  if (cleared > p2len) {
    return {ladder, Format(given, override_bytes) +
                        Format(" is not used (it is more than partition 2's %" PRId64
                               " blocks); the table gives %u bytes.",
                               p2len, ladder)};
  }
  auto bytes = static_cast<uint32_t>(cleared);
  if (cleared != override_bytes) {
    return {bytes, Format(given, override_bytes) +
                       Format(" is used as %u bytes, a multiple of 512.", bytes)};
  }
  return {bytes, Format(given, override_bytes) + " is used."};
}

uint32_t MpegReformatClusterSize(int64_t p2len, int32_t override_bytes) {
  return ChooseMpegClusterSize(p2len, override_bytes).bytes;
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
