// Counts the bytes written to drives and files, for the progress display's rate. It sits in
// the descriptor seam in front of the device layer that was in place and passes every call on
// unchanged.
#pragma once

#include <cstdint>

#include "disk/device_io.h"

namespace quillmar::cli {

class TransferMeter final : public DeviceIo {
 public:
  // Installs itself in front of the DeviceIo in use; the destructor puts that one back.
  TransferMeter();
  ~TransferMeter() override;
  TransferMeter(const TransferMeter&) = delete;
  TransferMeter& operator=(const TransferMeter&) = delete;

  uint64_t bytes_written() const { return written_; }

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
  DeviceIo& inner_;
  uint64_t written_ = 0;
};

}  // namespace quillmar::cli
