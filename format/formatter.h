// Writes a fresh recorder file system at the start of a partition.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/write_plan.h"

namespace quillmar {

// Writes the system block, the superblock and root directory with their copies and one
// directory block pair per name at partition_offset (bytes). 0 when every block was written,
// -1 when the device could not be opened, a cluster size that is not real or more directories
// than a root lists were asked for, a block would lie beyond the partition's clusters or the
// device's end (nothing written), or a block could not be positioned, written or flushed
// (nothing is written at any other position; the other blocks are still written after a failed
// write).
int FormatPartition(const std::string& device_path, uint64_t partition_offset, bool rtv4000,
                    uint32_t cluster_size, uint64_t cluster_count, const std::string& label,
                    const std::vector<std::string>& directories);

// Adds the blocks FormatPartition writes to plan: clusters 0 to 4 + 2 x directory_count, 1024
// bytes each, all inside the partition's cluster_count clusters (named by partition).
void PlanFormatWrites(WritePlan& plan, const std::string& device, uint64_t partition_offset,
                      uint32_t cluster_size, uint64_t cluster_count, size_t directory_count,
                      const std::string& partition);

}  // namespace quillmar
