// Writes a fresh recorder file system at the start of a partition.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillmar {

// Writes the system block, the superblock and root directory with their copies and one
// directory block pair per name at partition_offset (bytes). 0 when every block was written,
// -1 when the device could not be opened, a cluster size below 1024 or more directories than a
// root lists were asked for, or a block could not be positioned, written or flushed (nothing is
// written at any other position; the other blocks are still written after a failed write).
int FormatPartition(const std::string& device_path, uint64_t partition_offset, bool rtv4000,
                    uint32_t cluster_size, uint64_t cluster_count, const std::string& label,
                    const std::vector<std::string>& directories);

}  // namespace quillmar
