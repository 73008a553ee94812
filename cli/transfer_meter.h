// Counts the bytes written to drives and files, for the progress display's rate. It sits in
// the descriptor seam in front of the device layer that was in place and passes every call on
// unchanged.
#pragma once

#include <cstdint>

#include "disk/forwarding_device_io.h"

namespace quillmar::cli {

class TransferMeter final : public ForwardingDeviceIo {
 public:
  // Installs itself in front of the DeviceIo in use; the destructor puts that one back.
  TransferMeter();
  ~TransferMeter() override;
  TransferMeter(const TransferMeter&) = delete;
  TransferMeter& operator=(const TransferMeter&) = delete;

  uint64_t bytes_written() const { return written_; }

  ssize_t Write(int fd, const void* buffer, size_t n) override;

 private:
  uint64_t written_ = 0;
};

}  // namespace quillmar::cli
