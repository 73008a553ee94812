#include "cli/transfer_meter.h"

namespace quillmar::cli {

TransferMeter::TransferMeter() : inner_(Io()) {
  SetDeviceIo(this);
}

TransferMeter::~TransferMeter() {
  SetDeviceIo(&inner_ == &PosixDeviceIo() ? nullptr : &inner_);
}

int TransferMeter::Open(const std::string& path, OpenMode mode) {
  return inner_.Open(path, mode);
}
int64_t TransferMeter::Seek(int fd, uint64_t offset) {
  return inner_.Seek(fd, offset);
}
int64_t TransferMeter::Length(int fd) {
  return inner_.Length(fd);
}
ssize_t TransferMeter::Read(int fd, void* buffer, size_t n) {
  return inner_.Read(fd, buffer, n);
}

ssize_t TransferMeter::Write(int fd, const void* buffer, size_t n) {
  ssize_t written = inner_.Write(fd, buffer, n);
  if (written > 0)
    written_ += static_cast<uint64_t>(written);
  return written;
}

int TransferMeter::Flush(int fd) {
  return inner_.Flush(fd);
}
int TransferMeter::StartWriteback(int fd, uint64_t offset, uint64_t length) {
  return inner_.StartWriteback(fd, offset, length);
}
int TransferMeter::WaitWriteback(int fd, uint64_t offset, uint64_t length) {
  return inner_.WaitWriteback(fd, offset, length);
}
int TransferMeter::Close(int fd) {
  return inner_.Close(fd);
}

}  // namespace quillmar::cli
