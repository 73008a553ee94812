// Empties the root directory of the MPEG partition (partition 2) and re-seals it and its copy.
#pragma once

#include <cstdint>
#include <string>

#include "base/byte_order.h"
#include "disk/write_plan.h"

namespace quillmar {

// 0 when the root directory was rewritten, -1 otherwise (nothing written on every refusal).
int ResetMpegPartition(const std::string& device_path);

// The root directory block (standard order, as read) and where the reset writes it and its copy.
struct RootReset {
  FsBlock root{};
  uint64_t root_offset = 0;
  uint64_t copy_offset = 0;
};

// Reads the system block, the superblock and the root block of the file system at
// partition_offset on fd, and adds the reset's checks and its two writes to plan, inside
// partition_bytes from the partition's start. Loud: the reset's own lines are logged, and a short
// read is reported by the block reader and ends with false. Quiet: nothing is logged, and an
// unreadable block reads as zeros and fails its check. Stops reading at the first broken value.
bool PlanRootReset(int fd, const std::string& device, uint64_t partition_offset,
                   uint64_t partition_bytes, bool rtv4000, bool loud, WritePlan& plan,
                   RootReset& reset);

}  // namespace quillmar
