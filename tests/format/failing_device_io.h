// A DeviceIo for the format tests that passes everything to the POSIX one, records where each
// write lands, and fails chosen calls: the k-th positioning at a byte offset (failed outright, or
// landing one sector short), a write at a byte offset, or the flush.
#pragma once

#include <cerrno>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "disk/forwarding_device_io.h"

namespace quillmar::testing {

class FailingDeviceIo : public ForwardingDeviceIo {
 public:
  enum class SeekFault { kNone, kError, kElsewhere };

  FailingDeviceIo() : ForwardingDeviceIo(PosixDeviceIo()) { SetDeviceIo(this); }
  ~FailingDeviceIo() override { SetDeviceIo(nullptr); }
  FailingDeviceIo(const FailingDeviceIo&) = delete;
  FailingDeviceIo& operator=(const FailingDeviceIo&) = delete;

  // The occurrence-th positioning at offset (1 = the first) fails as given.
  void FailSeek(uint64_t offset, int occurrence, SeekFault fault) {
    seek_offset_ = offset;
    seek_occurrence_ = occurrence;
    seek_fault_ = fault;
  }
  void FailWriteAt(uint64_t offset) { write_fault_ = offset; }
  void FailFlush() { flush_fault_ = true; }

  int opens() const { return opens_; }
  // Byte offsets of the writes that reached the file, in order.
  const std::vector<uint64_t>& writes() const { return writes_; }

  int Open(const std::string& path, OpenMode mode) override {
    ++opens_;
    return PosixDeviceIo().Open(path, mode);
  }
  int64_t Seek(int fd, uint64_t offset) override {
    if (seek_fault_ != SeekFault::kNone && offset == seek_offset_ &&
        ++seeks_seen_ == seek_occurrence_) {
      if (seek_fault_ == SeekFault::kError)
        return -1;
      // Really moves, one sector short: a write that ignored the failure would land there.
      int64_t landed = PosixDeviceIo().Seek(fd, offset - 512);
      positions_[fd] = static_cast<uint64_t>(landed);
      return landed;
    }
    int64_t landed = PosixDeviceIo().Seek(fd, offset);
    if (landed >= 0)
      positions_[fd] = static_cast<uint64_t>(landed);
    return landed;
  }
  ssize_t Read(int fd, void* buffer, size_t n) override {
    ssize_t r = PosixDeviceIo().Read(fd, buffer, n);
    if (r > 0)
      positions_[fd] += static_cast<uint64_t>(r);
    return r;
  }
  ssize_t Write(int fd, const void* buffer, size_t n) override {
    if (write_fault_ && positions_[fd] == *write_fault_) {
      errno = EIO;
      return -1;
    }
    writes_.push_back(positions_[fd]);
    ssize_t r = PosixDeviceIo().Write(fd, buffer, n);
    if (r > 0)
      positions_[fd] += static_cast<uint64_t>(r);
    return r;
  }
  int Flush(int fd) override { return flush_fault_ ? -1 : PosixDeviceIo().Flush(fd); }

 private:
  SeekFault seek_fault_ = SeekFault::kNone;
  uint64_t seek_offset_ = 0;
  int seek_occurrence_ = 0;
  int seeks_seen_ = 0;
  std::optional<uint64_t> write_fault_;
  bool flush_fault_ = false;
  int opens_ = 0;
  std::map<int, uint64_t> positions_;
  std::vector<uint64_t> writes_;
};

}  // namespace quillmar::testing
