#include "format/fs_checks.h"

#include "base/byte_order.h"
#include "base/log.h"
#include "format/checksum.h"
#include "format/fs_blocks.h"

namespace quillmar {

bool IsRealClusterSize(uint64_t bytes) {
  return bytes >= kSmallestClusterSize && bytes <= kLargestClusterSize &&
         (bytes & (bytes - 1)) == 0;
}

std::string ClusterSizeRule() {
  return Format("a cluster size is a power of two from %u to %u bytes", kSmallestClusterSize,
                kLargestClusterSize);
}

bool CheckClusterSize(WritePlan& plan, const std::string& device, uint32_t cluster_size) {
  return plan.Check({device, "the cluster size of partition 2", cluster_size,
                     IsRealClusterSize(cluster_size), ClusterSizeRule(), kInvalidClusterSize});
}

bool CheckSuperblock(WritePlan& plan, const std::string& device,
                     std::span<const uint8_t> superblock) {
  const char* headline = "*** ERROR: Partition 2 has no superblock at cluster 1";
  const char* rule = "a superblock has kind 371, marker 210 and cluster number 1";
  uint16_t kind = GetBe16(superblock, kHeaderKind);
  uint64_t cluster = GetBe64(superblock, kHeaderCluster);
  return plan.Check({device, "its kind", kind, kind == kSuperblockKind, rule, headline}) &&
         plan.Check({device, "its marker", superblock[kHeaderMarker],
                     superblock[kHeaderMarker] == kBlockMarker, rule, headline}) &&
         plan.Check({device, "its cluster number", cluster, cluster == 1, rule, headline});
}

bool CheckCountPatchable(WritePlan& plan, const std::string& device,
                         std::span<const uint8_t> system_block, std::span<const uint8_t> superblock,
                         uint32_t cluster_size) {
  const char* headline = "*** ERROR: The file system of partition 2 cannot be patched in place";
  uint32_t high =
      GetBe32(system_block, kSystemClusterCount) | GetBe32(superblock, kSuperClusterCount);
  uint32_t super_cluster_size = GetBe32(superblock, kSuperClusterSize);
  uint32_t crc_length = GetBe32(superblock, kHeaderCrcLength);
  return plan.Check({device, "the high half of its cluster count", high, high == 0,
                     "a cluster count below 2^32 in the system block and the superblock",
                     headline}) &&
         plan.Check({device, "the superblock's cluster size", super_cluster_size,
                     super_cluster_size == cluster_size,
                     Format("the system block's, %u bytes", cluster_size), headline}) &&
         plan.Check({device, "the superblock's CRC length", crc_length,
                     crc_length < kMaxPatchedCrcLength,
                     Format("below %u bytes", kMaxPatchedCrcLength),
                     "*** ERROR: Suspicious FAT block, not patching CRC checksum..."});
}

}  // namespace quillmar
