// The test fixtures' own file access, straight to POSIX: it never goes through a test's fake
// DeviceIo, so building or reading an image is unaffected by the faults a test injects.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

namespace quillmar::testing {

class RawFile {
 public:
  RawFile(const std::string& path, int flags)
      : fd_(::open(path.c_str(), flags | O_CLOEXEC, 0644)) {}
  ~RawFile() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  RawFile(const RawFile&) = delete;
  RawFile& operator=(const RawFile&) = delete;
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Bytes read (fewer at the end of the file), or -1.
  ssize_t ReadAt(uint64_t offset, uint8_t* buffer, size_t n) const {
    size_t done = 0;
    while (done < n) {
      ssize_t r = ::pread(fd_, buffer + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0 && errno == EINTR)
        continue;
      if (r < 0)
        return -1;
      if (r == 0)
        break;
      done += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(done);
  }
  bool WriteAt(uint64_t offset, const uint8_t* buffer, size_t n) const {
    size_t done = 0;
    while (done < n) {
      ssize_t r = ::pwrite(fd_, buffer + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0 && errno == EINTR)
        continue;
      if (r <= 0)
        return false;
      done += static_cast<size_t>(r);
    }
    return true;
  }

 private:
  int fd_;
};

inline std::string Errno(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace quillmar::testing
