#include "format/fs_checks.h"

#include "base/log.h"
#include "base/byte_order.h"
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

}  // namespace quillmar
