// Positioned block transfers of the operations that read and write single structures (the patch
// and the two-drive procedure): a failed positioning never lets a block be read from or written
// to any other place.
#pragma once

#include <cstdint>
#include <span>

#include "disk/unique_fd.h"

namespace quillmar {

// Positions at offset and reads the whole buffer (a short read is reported by the block reader).
bool ReadAt(int fd, uint64_t offset, std::span<uint8_t> buffer);

// Positions at offset and writes the whole buffer (a failed write is reported by the writer).
bool WriteAt(int fd, uint64_t offset, std::span<const uint8_t> buffer);

}  // namespace quillmar
