// In-memory drives behind the descriptor seam, for the fault tests and the fuzz target (no gtest
// here): FakeDeviceIo is the process's DeviceIo for its lifetime, and paths it does not serve go
// to the real files. A transfer that reaches a failing sector stops just before it (a short
// transfer); the next call starting at the sector fails, as a real disk's reads and writes do.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/byte_order.h"
#include "disk/device_io.h"

namespace quillmar::testing {

// How many of the n bytes from position come before the first of the sectors.
size_t BytesBeforeListedSector(const std::set<uint64_t>& sectors, uint64_t position, size_t n);

// One Write call as the device saw it: where, and how much was asked.
struct WriteCall {
  uint64_t offset;
  size_t length;
};

class FakeDevice {
 public:
  explicit FakeDevice(uint64_t size) : bytes_(size) {}

  // The contents; writes past the end make it longer, as with an image file.
  std::vector<uint8_t>& bytes() { return bytes_; }
  // Makes it a sparse device of size bytes kept sector by sector (bytes() unused): a sector
  // first read or written holds what fill(sector, bytes) makes of it, and keeps it unless fill
  // returns false on a read (it then reads as zeros). Writes past the end fail with ENOSPC.
  void Sparse(uint64_t size, std::function<bool(uint64_t, Sector&)> fill);
  // Sector n as a read would find it.
  Sector Peek(uint64_t n);

  // Reads or writes reaching the sector fail with EIO.
  void FailReadAt(uint64_t sector) { bad_reads_.insert(sector); }
  void FailWriteAt(uint64_t sector) { bad_writes_.insert(sector); }
  // Like the page cache: writes of failing sectors succeed, and the error is reported once, by
  // the next WaitWriteback or Flush (whatever range it names).
  void DeferWriteErrors() { defer_write_errors_ = true; }
  // The next Flush fails with EIO (once, as on Linux).
  void FailFlush() { fail_flush_ = true; }
  // No more than limit bytes: writes beyond fail with ENOSPC (or return 0 with zero_write).
  void NoSpaceBeyond(uint64_t limit, bool zero_write = false) {
    space_limit_ = limit;
    zero_write_when_full_ = zero_write;
  }
  // Every read and write transfers at most this many bytes.
  void ShortTransfers(size_t most) { most_per_transfer_ = most; }
  // After this many further calls on the device (open included), every call fails with error.
  void VanishAfter(int calls, int error = EIO) {
    calls_left_ = calls;
    vanish_error_ = error;
  }
  // Seeks fail (EINVAL), or land delta bytes away from where they were asked.
  void FailSeeks() { fail_seeks_ = true; }
  void SeeksLandOffBy(int64_t delta) { seek_delta_ = delta; }
  // Opens for writing fail with EBUSY, as for a mounted disk.
  void RefuseWriters() { refuse_writers_ = true; }
  // StartWriteback and WaitWriteback fail with error (ESPIPE: the file has no write-behind).
  void FailWriteback(int error) { writeback_error_ = error; }

  const std::vector<WriteCall>& writes() const { return writes_; }
  void ClearWrites() { writes_.clear(); }
  int flushes() const { return flushes_; }

 private:
  friend class FakeDeviceIo;
  uint64_t Size() const { return fill_ ? sparse_size_ : bytes_.size(); }
  bool Vanished();
  ssize_t Read(uint64_t position, uint8_t* buffer, size_t n);
  ssize_t Write(uint64_t position, const uint8_t* buffer, size_t n);
  int Writeback(bool wait);
  void Move(uint64_t position, uint8_t* buffer, size_t n, bool write);

  std::vector<uint8_t> bytes_;
  std::function<bool(uint64_t, Sector&)> fill_;
  uint64_t sparse_size_ = 0;
  std::map<uint64_t, Sector> sectors_;
  std::set<uint64_t> bad_reads_;
  std::set<uint64_t> bad_writes_;
  bool defer_write_errors_ = false;
  bool pending_write_error_ = false;
  bool fail_flush_ = false;
  uint64_t space_limit_ = UINT64_MAX;
  bool zero_write_when_full_ = false;
  size_t most_per_transfer_ = SIZE_MAX;
  int calls_left_ = -1;
  int vanish_error_ = 0;
  bool fail_seeks_ = false;
  int64_t seek_delta_ = 0;
  bool refuse_writers_ = false;
  int writeback_error_ = 0;
  std::vector<WriteCall> writes_;
  int flushes_ = 0;
};

class FakeDeviceIo final : public DeviceIo {
 public:
  FakeDeviceIo() { SetDeviceIo(this); }
  ~FakeDeviceIo() override { SetDeviceIo(nullptr); }
  FakeDeviceIo(const FakeDeviceIo&) = delete;
  FakeDeviceIo& operator=(const FakeDeviceIo&) = delete;

  // A device of size zero bytes served under path (which need not exist anywhere).
  FakeDevice& Add(const std::string& path, uint64_t size);
  // Descriptors of fake devices not yet closed.
  int open_descriptors() const { return static_cast<int>(open_.size()); }

  int Open(const std::string& path, OpenMode mode) override;
  int64_t Seek(int fd, uint64_t offset) override;
  int64_t Length(int fd) override;
  ssize_t Read(int fd, void* buffer, size_t n) override;
  ssize_t Write(int fd, const void* buffer, size_t n) override;
  int Flush(int fd) override;
  int StartWriteback(int fd, uint64_t offset, uint64_t length) override;
  int WaitWriteback(int fd, uint64_t offset, uint64_t length) override;
  int Close(int fd) override;

 private:
  struct Descriptor {
    FakeDevice* device;
    OpenMode mode;
    uint64_t position;
  };
  // The open descriptor fd of a fake device; nullptr (errno set) for any other, and when the
  // device has vanished.
  Descriptor* Live(int fd);

  std::map<std::string, std::unique_ptr<FakeDevice>> devices_;
  std::map<int, Descriptor> open_;
  int opens_ = 0;
};

}  // namespace quillmar::testing
