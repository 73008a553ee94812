#include "tests/fuzz/fuzz_support.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quillmar::fuzzing {

void InputStream::Take(std::span<uint8_t> out) {
  size_t n = std::min(out.size(), data_.size() - used_);
  std::memcpy(out.data(), data_.data() + used_, n);
  std::memset(out.data() + n, 0, out.size() - n);
  used_ += n;
}

uint8_t InputStream::Byte() {
  uint8_t b = 0;
  Take({&b, 1});
  return b;
}

uint32_t InputStream::U32() {
  uint8_t b[4];
  Take(b);
  return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

Sector& MemoryDrive::At(uint64_t sector) {
  auto found = sectors_.find(sector);
  if (found != sectors_.end())
    return found->second;
  Sector& fresh = sectors_[sector];
  input_->Take(fresh);
  return fresh;
}

ssize_t MemoryDrive::Read(uint64_t position, uint8_t* out, size_t n) {
  if (position >= size_)
    return 0;
  n = static_cast<size_t>(std::min<uint64_t>(n, size_ - position));
  for (size_t done = 0; done < n;) {
    uint64_t at = position + done;
    size_t in_sector = at % kBlockSize;
    size_t part = std::min(n - done, kBlockSize - in_sector);
    // Once the input is used up, a sector never read nor written stays zero for good: it need
    // not be kept (long copies stay cheap).
    if (input_->used_up() && sectors_.count(at / kBlockSize) == 0) {
      std::memset(out + done, 0, part);
    } else {
      std::memcpy(out + done, At(at / kBlockSize).data() + in_sector, part);
    }
    done += part;
  }
  return static_cast<ssize_t>(n);
}

ssize_t MemoryDrive::Write(uint64_t position, const uint8_t* in, size_t n) {
  if (position >= size_) {
    errno = ENOSPC;
    return -1;
  }
  n = static_cast<size_t>(std::min<uint64_t>(n, size_ - position));
  for (size_t done = 0; done < n;) {
    uint64_t at = position + done;
    size_t in_sector = at % kBlockSize;
    size_t part = std::min(n - done, kBlockSize - in_sector);
    std::memcpy(At(at / kBlockSize).data() + in_sector, in + done, part);
    done += part;
  }
  return static_cast<ssize_t>(n);
}

MemoryDeviceIo::MemoryDeviceIo() {
  SetDeviceIo(this);
}
MemoryDeviceIo::~MemoryDeviceIo() {
  SetDeviceIo(nullptr);
}

MemoryDrive& MemoryDeviceIo::Add(const std::string& path, uint64_t size_bytes, InputStream* input) {
  auto drive = std::make_unique<MemoryDrive>(size_bytes, input);
  MemoryDrive& added = *drive;
  drives_[path] = std::move(drive);
  return added;
}

int MemoryDeviceIo::Open(const std::string& path, OpenMode mode) {
  auto found = drives_.find(path);
  if (found == drives_.end()) {
    errno = ENOENT;
    return -1;
  }
  int fd = next_fd_++;
  open_[fd] = {path, found->second.get(), 0, opens_++, mode};
  return fd;
}

int64_t MemoryDeviceIo::Seek(int fd, uint64_t offset) {
  auto found = open_.find(fd);
  if (found == open_.end() || offset > static_cast<uint64_t>(INT64_MAX)) {
    errno = EINVAL;
    return -1;
  }
  found->second.position = offset;
  return static_cast<int64_t>(offset);
}

int64_t MemoryDeviceIo::Length(int fd) {
  auto found = open_.find(fd);
  return found == open_.end() ? -1 : static_cast<int64_t>(found->second.drive->size());
}

ssize_t MemoryDeviceIo::Read(int fd, void* buffer, size_t n) {
  auto found = open_.find(fd);
  if (found == open_.end()) {
    errno = EBADF;
    return -1;
  }
  ssize_t r = found->second.drive->Read(found->second.position, static_cast<uint8_t*>(buffer), n);
  if (r > 0)
    found->second.position += static_cast<uint64_t>(r);
  return r;
}

ssize_t MemoryDeviceIo::Write(int fd, const void* buffer, size_t n) {
  auto found = open_.find(fd);
  if (found == open_.end()) {
    errno = EBADF;
    return -1;
  }
  const OpenFile& file = found->second;
  writes_.push_back({file.path, file.position, n, file.serial, file.mode});
  ssize_t r =
      found->second.drive->Write(found->second.position, static_cast<const uint8_t*>(buffer), n);
  if (r > 0)
    found->second.position += static_cast<uint64_t>(r);
  return r;
}

int MemoryDeviceIo::Flush(int fd) {
  return open_.count(fd) != 0 ? 0 : -1;
}
int MemoryDeviceIo::StartWriteback(int, uint64_t, uint64_t) {
  return 0;
}
int MemoryDeviceIo::WaitWriteback(int, uint64_t, uint64_t) {
  return 0;
}

int MemoryDeviceIo::Close(int fd) {
  return open_.erase(fd) == 1 ? 0 : -1;
}

int InputFrontEnd::AskYesNo(const std::string&, const std::string&) {
  return input_->Byte() & 1 ? kIdYes : kIdNo;
}

int InputFrontEnd::AskWindowYesNo(const std::string&, const std::string&) {
  return input_->Byte() & 1 ? kIdYes : kIdNo;
}

void Require(bool condition, const char* what) {
  if (condition)
    return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

bool InsideRanges(uint64_t offset, size_t length, std::span<const SectorRange> ranges) {
  for (const SectorRange& range : ranges) {
    if (offset >= range.first * kBlockSize && offset + length <= range.end * kBlockSize)
      return true;
  }
  return false;
}

}  // namespace quillmar::fuzzing
