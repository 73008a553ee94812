#include "disk/sector_io.h"

#include <algorithm>

#include "disk/block_io.h"
#include "disk/device_io.h"

namespace quillmar {
namespace {

bool ReadPositioned(int fd, uint64_t offset, std::span<uint8_t> buffer, bool quiet) {
  bool positioned =
      quiet ? Io().Seek(fd, offset) == static_cast<int64_t>(offset) : SeekExact(fd, offset) == 1;
  if (!positioned) {
    std::fill(buffer.begin(), buffer.end(), uint8_t{0});
    return false;
  }
  return ReadBlocks(fd, buffer.data(), buffer.size(), quiet) == static_cast<int>(buffer.size());
}

}  // namespace

bool ReadAt(int fd, uint64_t offset, std::span<uint8_t> buffer) {
  return ReadPositioned(fd, offset, buffer, false);
}

bool ReadAtQuietly(int fd, uint64_t offset, std::span<uint8_t> buffer) {
  return ReadPositioned(fd, offset, buffer, true);
}

PlacedWrite WritePlaced(int fd, uint64_t offset, std::span<const uint8_t> buffer) {
  if (SeekExact(fd, offset) != 1)
    return PlacedWrite::kNotPositioned;
  if (WriteBlocks(fd, buffer.data(), buffer.size()) != static_cast<int>(buffer.size()))
    return PlacedWrite::kWriteFailed;
  return PlacedWrite::kWritten;
}

bool WriteAt(int fd, uint64_t offset, std::span<const uint8_t> buffer) {
  return WritePlaced(fd, offset, buffer) == PlacedWrite::kWritten;
}

}  // namespace quillmar
