#include "format/mpeg_reset.h"

#include <algorithm>

#include "base/log.h"
#include "disk/block_io.h"
#include "disk/unique_fd.h"
#include "format/checksum.h"
#include "format/fs_blocks.h"
#include "format/partition_block.h"

namespace quillmar {
namespace {

constexpr uint32_t kMinClusterSize = 512;
constexpr uint32_t kMaxClusterSize = 0x100000;
constexpr uint64_t kMinRootCluster = 3;
constexpr uint64_t kMaxRootCluster = 100;
constexpr uint32_t kRootCrcLength = 1000;

// Positions fd at offset and reads n bytes there, converting them to standard order when the
// disk is in RTV4000 order. false when the block could not be positioned or read in full (the
// block reader has reported a short read).
bool ReadAt(int fd, uint64_t offset, std::span<uint8_t> block, bool rtv4000) {
  if (SeekExact(fd, offset) != 1)
    return false;
  if (ReadBlocks(fd, block.data(), block.size(), false) != static_cast<int>(block.size())) {
    return false;
  }
  if (rtv4000)
    Rtv4000Byteswap(block);
  return true;
}

// Writes the root block at both positions. false when a positioning or a write failed; a failed
// write still lets the copy be written, a failed positioning stops at once.
bool WriteRootPair(int fd, const FsBlock& block, uint64_t first, uint64_t second) {
  bool written = true;
  for (uint64_t offset : {first, second}) {
    if (SeekExact(fd, offset) != 1)
      return false;
    if (WriteBlocks(fd, block.data(), block.size()) != static_cast<int>(block.size())) {
      written = false;
    }
  }
  return written;
}

}  // namespace

int ResetMpegPartition(const std::string& device_path) {
  LogLine("*** Resetting MPEG partition");
  UniqueFd fd = UniqueFd::Open(device_path, OpenMode::kReadWrite);
  if (!fd.valid()) {
    ReportOpenFailure(device_path);
    return -1;
  }

  // Sector 0: the byte order and where partition 2 lies.
  Sector sector0{};
  if (!ReadAt(fd.get(), 0, sector0, false))
    return -1;
  bool rtv4000 = IsRtv4000Order(sector0);
  if (rtv4000) {
    LogLine("  Enabling RTV4000 byteswapping functions");
    Rtv4000Byteswap(sector0);
  }
  PartitionEntry p1 = ReadPartitionEntry(sector0, 1);
  PartitionEntry p2 = ReadPartitionEntry(sector0, 2);
  // Unsigned, as they are stored: a length of 3,000,000,000 is not shown negative.
  LogLine(Format("  Partition 1 size is %u (0x%x) blocks.", p1.length, p1.length));
  LogLine(Format("  Partition 2 starts at sector %u (0x%x)", p2.start, p2.start));
  if (p2.start != static_cast<uint64_t>(p1.length) + 2) {
    LogAndShow("*** ERROR: Partition 2 does not start immediately after partition 1",
               "*** ERROR ***");
    return -1;
  }
  uint64_t partition = static_cast<uint64_t>(p2.start) * kBlockSize;

  // The system block's first half holds the cluster size.
  Sector system{};
  if (!ReadAt(fd.get(), partition, system, rtv4000))
    return -1;
  uint32_t cluster_size = GetBe32(system, kSystemClusterSize);
  LogLine(Format("  Partition 2 cluster size is %u bytes.", cluster_size));
  if (cluster_size < kMinClusterSize || cluster_size > kMaxClusterSize) {
    LogAndShow("*** ERROR: Invalid cluster size for partition 2", "*** ERROR ***");
    return -1;
  }
  uint64_t cluster_bytes = static_cast<uint64_t>(cluster_size);

  // The superblock names the root directory's cluster.
  FsBlock super{};
  if (!ReadAt(fd.get(), partition + cluster_bytes, super, rtv4000))
    return -1;
  uint64_t root = GetBe64(super, kSuperRootCluster);
  LogLine(Format("  Partition 2 root directory located in block %u.", static_cast<uint32_t>(root)));
  if (root < kMinRootCluster || root > kMaxRootCluster) {
    LogAndShow("*** ERROR: Root directory cluster number is not valid", "*** ERROR ***");
    return -1;
  }

  uint64_t root_offset = partition + root * cluster_bytes;
  FsBlock dir{};
  if (!ReadAt(fd.get(), root_offset, dir, rtv4000))
    return -1;
  if (GetBe32(dir, kHeaderCrcLength) != kRootCrcLength) {
    LogLine("*** ERROR: Suspicious root directory block, not changing anything...");
    return -1;
  }

  // Every slot empty; everything else stays as read. Then the checks, and back to disk order.
  std::fill(dir.begin() + kDirSlots, dir.end(), uint8_t{0xFF});
  SealBlock(dir, "  ");
  if (rtv4000)
    Rtv4000Byteswap(dir);

  bool written = WriteRootPair(fd.get(), dir, root_offset, root_offset + cluster_bytes);
  bool durable = FlushAndClose(fd) == 0;
  if (!written || !durable)
    return -1;
  LogLine("*** MPEG partition reset is complete");
  return 0;
}

}  // namespace quillmar
