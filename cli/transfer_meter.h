// Counts the bytes written to drives and files and the bytes read, for the progress display's
// rate. It sits in the descriptor seam in front of the device layer that was in place and passes
// every call on unchanged. The undo file's own writes are not counted: they are not what the
// operation writes.
#pragma once

#include <cstdint>
#include <set>

#include "cli/progress_display.h"
#include "disk/forwarding_device_io.h"

namespace quillmar::cli {

class TransferMeter final : public ForwardingDeviceIo {
 public:
  // Installs itself in front of the DeviceIo in use; the destructor puts that one back.
  TransferMeter();
  ~TransferMeter() override;
  TransferMeter(const TransferMeter&) = delete;
  TransferMeter& operator=(const TransferMeter&) = delete;

  Transferred transferred() const { return counted_; }

  int Open(const std::string& path, OpenMode mode) override;
  ssize_t Read(int fd, void* buffer, size_t n) override;
  ssize_t Write(int fd, const void* buffer, size_t n) override;
  int Close(int fd) override;

 private:
  Transferred counted_;
  std::set<int> undo_files_;  // descriptors of the undo file
};

}  // namespace quillmar::cli
