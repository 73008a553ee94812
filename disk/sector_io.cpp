#include "disk/sector_io.h"

#include "disk/block_io.h"
#include "disk/device_io.h"

namespace quillmar {

bool ReadAt(int fd, uint64_t offset, std::span<uint8_t> buffer) {
  if (!SeekExact(fd, offset))
    return false;
  return ReadBlocks(fd, buffer.data(), buffer.size(), false) == static_cast<int>(buffer.size());
}

bool ReadAtQuietly(int fd, uint64_t offset, std::span<uint8_t> buffer) {
  if (Io().Seek(fd, offset) != static_cast<int64_t>(offset))
    return false;
  return ReadBlocks(fd, buffer.data(), buffer.size(), true) == static_cast<int>(buffer.size());
}

bool WriteAt(int fd, uint64_t offset, std::span<const uint8_t> buffer) {
  if (!SeekExact(fd, offset))
    return false;
  return WriteBlocks(fd, buffer.data(), buffer.size()) == static_cast<int>(buffer.size());
}

}  // namespace quillmar
