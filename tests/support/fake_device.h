// In-memory drives behind the descriptor seam, for fault tests. FakeDeviceIo installs itself as
// the process's DeviceIo for its lifetime; paths it does not serve go to the real files.
//
//   FakeDeviceIo io;
//   FakeDevice& disk = io.Add("disk", 2048 * 512);
//   disk.FailReadAt(511);          // reads of sector 511 fail with EIO
//   ... run the code under test ...
//   EXPECT_TRUE(disk.writes().empty());
//
// A transfer that reaches a failing sector stops just before it (a short transfer); the next call
// starting at the sector fails, as a real disk's reads and writes do.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "disk/device_io.h"

namespace quillmar::testing {

// Installs a DeviceIo for the lifetime of this object; SetDeviceIo(nullptr) afterwards.
class ScopedDeviceIo {
 public:
  explicit ScopedDeviceIo(DeviceIo* io) { SetDeviceIo(io); }
  ~ScopedDeviceIo() { SetDeviceIo(nullptr); }
  ScopedDeviceIo(const ScopedDeviceIo&) = delete;
  ScopedDeviceIo& operator=(const ScopedDeviceIo&) = delete;
};

// One Write call as the device saw it: where, how much was asked, what it returned.
struct WriteCall {
  uint64_t offset;
  size_t length;
  ssize_t result;
};

class FakeDevice {
 public:
  explicit FakeDevice(uint64_t size) : bytes_(size) {}

  // The contents; writes past the end make it longer, as with an image file.
  std::vector<uint8_t>& bytes() { return bytes_; }

  // Reads or writes reaching the sector fail with EIO.
  void FailReadAt(uint64_t sector) { bad_reads_.insert(sector); }
  void FailWriteAt(uint64_t sector) { bad_writes_.insert(sector); }
  // Like the page cache: writes of failing sectors succeed, and the error is reported once, by
  // the next WaitWriteback or Flush (whatever range it names).
  void DeferWriteErrors() { defer_write_errors_ = true; }
  // The next Flush fails with EIO (once; a second flush succeeds, as on Linux).
  void FailFlush() { fail_flush_ = true; }
  // No more than limit bytes in all: writes beyond fail with ENOSPC (or return 0 when
  // zero_write is set).
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
  int flushes() const { return flushes_; }
  // Byte ranges named by StartWriteback and WaitWriteback, in call order.
  const std::vector<std::pair<uint64_t, uint64_t>>& writeback_starts() const { return starts_; }
  const std::vector<std::pair<uint64_t, uint64_t>>& writeback_waits() const { return waits_; }

 private:
  friend class FakeDeviceIo;
  bool Vanished();
  ssize_t Read(uint64_t position, void* buffer, size_t n);
  ssize_t Write(uint64_t position, const void* buffer, size_t n);
  int Flush();
  int Writeback(uint64_t offset, uint64_t length, bool wait);
  // How many of n bytes from position can be transferred before a sector of bad (n when none).
  size_t UntilBadSector(const std::set<uint64_t>& bad, uint64_t position, size_t n) const;

  std::vector<uint8_t> bytes_;
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
  std::vector<std::pair<uint64_t, uint64_t>> starts_;
  std::vector<std::pair<uint64_t, uint64_t>> waits_;
};

class FakeDeviceIo final : public DeviceIo {
 public:
  FakeDeviceIo();
  ~FakeDeviceIo() override;
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
  Descriptor* Find(int fd);

  std::map<std::string, std::unique_ptr<FakeDevice>> devices_;
  std::map<int, Descriptor> open_;
  int next_fd_;
  ScopedDeviceIo installed_;
};

}  // namespace quillmar::testing
