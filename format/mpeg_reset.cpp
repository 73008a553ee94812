#include "format/mpeg_reset.h"

#include <algorithm>

#include "base/log.h"
#include "disk/block_io.h"
#include "disk/sector_io.h"
#include "disk/unique_fd.h"
#include "format/checksum.h"
#include "format/fs_blocks.h"
#include "format/fs_checks.h"
#include "format/partition_block.h"

namespace quillmar {
namespace {

constexpr uint64_t kMinRootCluster = 3;
constexpr uint64_t kMaxRootCluster = 100;
constexpr uint32_t kRootCrcLength = 1000;
constexpr const char* kSuspiciousRoot =
    "*** ERROR: Suspicious root directory block, not changing anything...";

// Reads a block at offset and converts it to standard order when the disk is in RTV4000 order.
// false when the block could not be positioned or read in full (reported unless quiet; the
// buffer then holds zeros where nothing was read).
bool ReadInStandardOrder(int fd, uint64_t offset, std::span<uint8_t> block, bool rtv4000,
                         bool quiet = false) {
  bool whole = quiet ? ReadAtQuietly(fd, offset, block) : ReadAt(fd, offset, block);
  if (rtv4000)
    Rtv4000Byteswap(block);
  return whole;
}

// Writes the root block at both positions. false when a positioning or a write failed; a failed
// write still lets the copy be written, a failed positioning stops at once.
bool WriteRootPair(int fd, const FsBlock& block, uint64_t first, uint64_t second) {
  bool written = true;
  for (uint64_t offset : {first, second}) {
    PlacedWrite outcome = WritePlaced(fd, offset, block);
    if (outcome == PlacedWrite::kNotPositioned)
      return false;
    if (outcome == PlacedWrite::kWriteFailed)
      written = false;
  }
  return written;
}

// Partition 2 directly after partition 1, from sector 0 of fd. false on a short read (reported).
bool PlanPartitionPlace(int fd, const std::string& device, WritePlan& plan, bool& rtv4000,
                        PartitionEntry& p2) {
  Sector sector0{};
  if (!ReadAt(fd, 0, sector0))
    return false;
  rtv4000 = IsRtv4000Order(sector0);
  if (rtv4000) {
    LogLine("  Enabling RTV4000 byteswapping functions");
    Rtv4000Byteswap(sector0);
  }
  PartitionEntry p1 = ReadPartitionEntry(sector0, 1);
  p2 = ReadPartitionEntry(sector0, 2);
  // Unsigned, as they are stored: a length of 3,000,000,000 is not shown negative.
  LogLine(Format("  Partition 1 size is %u (0x%x) blocks.", p1.length, p1.length));
  LogLine(Format("  Partition 2 starts at sector %u (0x%x)", p2.start, p2.start));
  uint64_t after_p1 = static_cast<uint64_t>(p1.length) + 2;
  plan.Check({device, "the start sector of partition 2", p2.start, p2.start == after_p1,
              Format("partition 1 has %u blocks, so it must be %llu", p1.length,
                     static_cast<unsigned long long>(after_p1)),
              "*** ERROR: Partition 2 does not start immediately after partition 1"});
  return true;
}

}  // namespace

bool PlanRootReset(int fd, const std::string& device, uint64_t partition_offset,
                   uint64_t partition_bytes, bool rtv4000, bool loud, WritePlan& plan,
                   RootReset& reset) {
  bool quiet = !loud;
  auto log = [loud](const std::string& line) {
    if (loud)
      LogLine(line);
  };
  // The system block's first half holds the cluster size.
  Sector system{};
  if (!ReadInStandardOrder(fd, partition_offset, system, rtv4000, quiet) && loud)
    return false;
  uint32_t cluster_size = GetBe32(system, kSystemClusterSize);
  log(Format("  Partition 2 cluster size is %u bytes.", cluster_size));
  if (!CheckClusterSize(plan, device, cluster_size))
    return true;

  // The superblock names the root directory's cluster.
  FsBlock super{};
  if (!ReadInStandardOrder(fd, partition_offset + cluster_size, super, rtv4000, quiet) && loud)
    return false;
  uint64_t root = GetBe64(super, kSuperRootCluster);
  log(Format("  Partition 2 root directory located in block %u.", static_cast<uint32_t>(root)));
  if (!CheckSuperblock(plan, device, super) ||
      !plan.Check({device, "the root directory cluster", root,
                   root >= kMinRootCluster && root <= kMaxRootCluster,
                   "the root directory lies in clusters 3 to 100",
                   "*** ERROR: Root directory cluster number is not valid"})) {
    return true;
  }

  reset.root_offset = partition_offset + root * cluster_size;
  reset.copy_offset = reset.root_offset + cluster_size;
  if (!ReadInStandardOrder(fd, reset.root_offset, reset.root, rtv4000, quiet) && loud)
    return false;
  uint32_t crc_length = GetBe32(reset.root, kHeaderCrcLength);
  plan.Check({device, "the covered length of the root directory block", crc_length,
              crc_length == kRootCrcLength, "a directory block covers 1000 bytes",
              kSuspiciousRoot});
  // The root and its copy lie inside partition 2, and on the drive.
  uint64_t partition_end = partition_offset + partition_bytes;
  plan.AddWrite({device, reset.root_offset, kFsBlockSize, "the root directory", "partition 2",
                 partition_end});
  plan.AddWrite({device, reset.copy_offset, kFsBlockSize, "the root directory copy", "partition 2",
                 partition_end});
  return true;
}

int ResetMpegPartition(const std::string& device_path) {
  LogLine("*** Resetting MPEG partition");
  UniqueFd fd = UniqueFd::Open(device_path, OpenMode::kReadWrite);
  if (!fd.valid()) {
    ReportOpenFailure(device_path);
    return -1;
  }

  // Every value is read and checked, and every write placed, before the first write.
  WritePlan plan;
  plan.AddDrive(device_path, fd.get());
  bool rtv4000 = false;
  PartitionEntry p2{};
  RootReset reset;
  if (!PlanPartitionPlace(fd.get(), device_path, plan, rtv4000, p2))
    return -1;
  uint64_t partition = static_cast<uint64_t>(p2.start) * kBlockSize;
  if (plan.Broken() == nullptr &&
      !PlanRootReset(fd.get(), device_path, partition, uint64_t{p2.length} * kBlockSize, rtv4000,
                     true, plan, reset)) {
    return -1;
  }
  if (std::string refusal = plan.Refusal(); !refusal.empty()) {
    // A root block that is not one is only logged; every other refusal is shown too.
    const WritePlan::Value* broken = plan.Broken();
    if (broken != nullptr && broken->headline == kSuspiciousRoot)
      LogLine(refusal);
    else
      LogAndShow(refusal, "*** ERROR ***");
    return -1;
  }

  // Every slot empty; everything else stays as read. Then the checks, and back to disk order.
  FsBlock& dir = reset.root;
  std::fill(dir.begin() + kDirSlots, dir.end(), uint8_t{0xFF});
  SealBlock(dir, "  ");
  if (rtv4000)
    Rtv4000Byteswap(dir);

  bool written = WriteRootPair(fd.get(), dir, reset.root_offset, reset.copy_offset);
  bool durable = FlushAndClose(fd) == 0;
  if (!written || !durable)
    return -1;
  LogLine("*** MPEG partition reset is complete");
  return 0;
}

}  // namespace quillmar
