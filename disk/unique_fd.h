// A descriptor opened through the DeviceIo seam and closed by whoever holds it, on every path.
#pragma once

#include <string>
#include <utility>

#include "disk/device_io.h"

namespace quillmar {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~UniqueFd() { Close(); }

  static UniqueFd Open(const std::string& path, OpenMode mode) {
    return UniqueFd(Io().Open(path, mode));
  }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now; returns the close's result (0 when nothing was open).
  int Close() {
    if (fd_ < 0)
      return 0;
    return Io().Close(std::exchange(fd_, -1));
  }

 private:
  int fd_ = -1;
};

}  // namespace quillmar
