// A DeviceIo that passes every call on to another one: the base of layers that watch or change
// only a few calls (a byte counter, a fault injector) and must not lose the rest.
#pragma once

#include "disk/device_io.h"

namespace quillmar {

class ForwardingDeviceIo : public DeviceIo {
 public:
  explicit ForwardingDeviceIo(DeviceIo& inner) : inner_(inner) {}

  int Open(const std::string& path, OpenMode mode) override { return inner_.Open(path, mode); }
  int64_t Seek(int fd, uint64_t offset) override { return inner_.Seek(fd, offset); }
  int64_t Length(int fd) override { return inner_.Length(fd); }
  ssize_t Read(int fd, void* buffer, size_t n) override { return inner_.Read(fd, buffer, n); }
  ssize_t Write(int fd, const void* buffer, size_t n) override {
    return inner_.Write(fd, buffer, n);
  }
  int Flush(int fd) override { return inner_.Flush(fd); }
  int StartWriteback(int fd, uint64_t offset, uint64_t length) override {
    return inner_.StartWriteback(fd, offset, length);
  }
  int WaitWriteback(int fd, uint64_t offset, uint64_t length) override {
    return inner_.WaitWriteback(fd, offset, length);
  }
  int Close(int fd) override { return inner_.Close(fd); }
  int AdviseSequential(int fd) override { return inner_.AdviseSequential(fd); }
  int AdviseWillNeed(int fd, uint64_t offset, uint64_t length) override {
    return inner_.AdviseWillNeed(fd, offset, length);
  }
  int AdviseDontNeed(int fd, uint64_t offset, uint64_t length) override {
    return inner_.AdviseDontNeed(fd, offset, length);
  }
  MediumId Medium(int fd) override { return inner_.Medium(fd); }

 protected:
  DeviceIo& inner() { return inner_; }

 private:
  DeviceIo& inner_;
};

}  // namespace quillmar
