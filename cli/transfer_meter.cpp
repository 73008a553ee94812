#include "cli/transfer_meter.h"

#include "disk/undo_recorder.h"

namespace quillmar::cli {

TransferMeter::TransferMeter() : ForwardingDeviceIo(Io()) {
  SetDeviceIo(this);
}

TransferMeter::~TransferMeter() {
  SetDeviceIo(&inner() == &PosixDeviceIo() ? nullptr : &inner());
}

int TransferMeter::Open(const std::string& path, OpenMode mode) {
  int fd = inner().Open(path, mode);
  const UndoRecorder* recorder = ActiveUndoRecorder();
  if (fd >= 0 && recorder != nullptr && path == recorder->file_path())
    undo_files_.insert(fd);
  return fd;
}

ssize_t TransferMeter::Read(int fd, void* buffer, size_t n) {
  ssize_t read = inner().Read(fd, buffer, n);
  if (read > 0)
    counted_.read += static_cast<uint64_t>(read);
  return read;
}

ssize_t TransferMeter::Write(int fd, const void* buffer, size_t n) {
  ssize_t written = inner().Write(fd, buffer, n);
  if (written > 0 && undo_files_.count(fd) == 0)
    counted_.written += static_cast<uint64_t>(written);
  return written;
}

int TransferMeter::Close(int fd) {
  undo_files_.erase(fd);
  return inner().Close(fd);
}

}  // namespace quillmar::cli
