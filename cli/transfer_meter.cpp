#include "cli/transfer_meter.h"

namespace quillmar::cli {

TransferMeter::TransferMeter() : ForwardingDeviceIo(Io()) {
  SetDeviceIo(this);
}

TransferMeter::~TransferMeter() {
  SetDeviceIo(&inner() == &PosixDeviceIo() ? nullptr : &inner());
}

ssize_t TransferMeter::Write(int fd, const void* buffer, size_t n) {
  ssize_t written = inner().Write(fd, buffer, n);
  if (written > 0)
    written_ += static_cast<uint64_t>(written);
  return written;
}

}  // namespace quillmar::cli
