// Positioned block transfers, the one family every layer uses to read or write a single block or
// structure at an offset (the classification, the formatter, the reset, the patch, the two-drive
// procedure, the inspector): a failed positioning never lets a block be read from or written to
// any other place.
#pragma once

#include <cstdint>
#include <span>

#include "disk/unique_fd.h"

namespace quillmar {

// Positions at offset and reads the whole buffer (a short read is reported by the block reader).
// On failure the buffer holds zeros where nothing was read.
bool ReadAt(int fd, uint64_t offset, std::span<uint8_t> buffer);

// The same without any report: for looks that only inspect, where a block that is not there is
// a finding rather than an error.
bool ReadAtQuietly(int fd, uint64_t offset, std::span<uint8_t> buffer);

// Positions at offset and writes the whole buffer (a failed write is reported by the writer).
bool WriteAt(int fd, uint64_t offset, std::span<const uint8_t> buffer);

// The same, telling a failed write (reported; a writer of several copies may go on) from a
// failed positioning (nothing written anywhere; the writer must stop).
enum class PlacedWrite { kWritten, kWriteFailed, kNotPositioned };
PlacedWrite WritePlaced(int fd, uint64_t offset, std::span<const uint8_t> buffer);

}  // namespace quillmar
