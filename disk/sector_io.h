// Positioned block transfers of the operations that read and write single structures (the patch,
// the two-drive procedure and the inspector): a failed positioning never lets a block be read
// from or written to any other place.
#pragma once

#include <cstdint>
#include <span>

#include "disk/unique_fd.h"

namespace quillmar {

// Positions at offset and reads the whole buffer (a short read is reported by the block reader).
bool ReadAt(int fd, uint64_t offset, std::span<uint8_t> buffer);

// The same without any report: for looks that only inspect, where a block that is not there is
// a finding rather than an error.
bool ReadAtQuietly(int fd, uint64_t offset, std::span<uint8_t> buffer);

// Positions at offset and writes the whole buffer (a failed write is reported by the writer).
bool WriteAt(int fd, uint64_t offset, std::span<const uint8_t> buffer);

}  // namespace quillmar
