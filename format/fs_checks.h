// What the metadata of an existing MPEG or Photo file system must be before anything is written
// into it from what it says: a real cluster size, and a superblock at cluster 1.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "disk/write_plan.h"

namespace quillmar {

// A cluster holds at least one 1024-byte metadata block; the formatter's largest clusters are
// 2 MiB.
inline constexpr uint32_t kSmallestClusterSize = 1024;
inline constexpr uint32_t kLargestClusterSize = 0x200000;

inline constexpr const char* kInvalidClusterSize =
    "*** ERROR: Invalid cluster size for partition 2";

// A power of two from kSmallestClusterSize to kLargestClusterSize.
bool IsRealClusterSize(uint64_t bytes);
// "a cluster size is a power of two from 1024 to 2097152 bytes"
std::string ClusterSizeRule();

// The cluster size of partition 2 as its system block gives it; false when it is not real.
bool CheckClusterSize(WritePlan& plan, const std::string& device, uint32_t cluster_size);

// The block at cluster 1 of partition 2 (standard order) must be a superblock: its kind, marker
// and cluster number. False when it is not.
bool CheckSuperblock(WritePlan& plan, const std::string& device,
                     std::span<const uint8_t> superblock);

// The longest CRC the patch recomputes over a superblock.
inline constexpr uint32_t kMaxPatchedCrcLength = 488;

// What the patch rewrites in place, in the system block and the superblock (standard order),
// must be what it can rewrite: a cluster count below 2^32 in both (it writes the low half), the
// superblock's cluster size the system block's (the new count is computed with that), and a CRC
// it can recompute. False when not: a file system patched otherwise would not match its disk.
bool CheckCountPatchable(WritePlan& plan, const std::string& device,
                         std::span<const uint8_t> system_block, std::span<const uint8_t> superblock,
                         uint32_t cluster_size);

}  // namespace quillmar
