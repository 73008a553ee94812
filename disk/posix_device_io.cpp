#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "disk/device_io.h"

namespace quillmar {
namespace {

bool IsBlockDevice(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

bool IsRegularFile(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// A writer of an image file holds an exclusive lock on it for as long as the descriptor is open,
// so a second writer (another run copying onto the same image) is refused as a busy block
// device is, instead of interleaving its writes. False (errno EBUSY) when another holds it.
bool LockImageFile(int fd) {
  if (!IsRegularFile(fd))
    return true;
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked == 0 || errno != EWOULDBLOCK)
    return true;  // a file system without locks is written as before
  errno = EBUSY;
  return false;
}

int FlagsFor(OpenMode mode) {
  switch (mode) {
    case OpenMode::kReadOnly:
      return O_RDONLY;
    case OpenMode::kWriteOnly:
      return O_WRONLY;
    case OpenMode::kWriteOnlyCreate:
      return O_WRONLY | O_CREAT;
    case OpenMode::kCreateNew:
      return O_WRONLY | O_CREAT | O_EXCL;
    case OpenMode::kReadWrite:
      return O_RDWR;
  }
  return O_RDONLY;
}

class Posix final : public DeviceIo {
 public:
  int Open(const std::string& path, OpenMode mode) override {
    int flags = FlagsFor(mode) | O_CLOEXEC;
    // O_EXCL on a block device refuses the open while the kernel holds the disk (mounted, in use).
    if (mode != OpenMode::kReadOnly && IsBlockDevice(path))
      flags |= O_EXCL;
    int fd;
    do {
      fd = ::open(path.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0 && mode != OpenMode::kReadOnly && !LockImageFile(fd)) {
      ::close(fd);
      errno = EBUSY;
      return -1;
    }
    return fd;
  }
  int64_t Seek(int fd, uint64_t offset) override {
    if (offset > static_cast<uint64_t>(INT64_MAX)) {
      errno = EINVAL;
      return -1;
    }
    return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET);
  }
  int64_t Length(int fd) override { return ::lseek(fd, 0, SEEK_END); }
  ssize_t Read(int fd, void* buffer, size_t n) override {
    ssize_t r;
    do {
      r = ::read(fd, buffer, n);
    } while (r < 0 && errno == EINTR);
    return r;
  }
  ssize_t Write(int fd, const void* buffer, size_t n) override {
    ssize_t r;
    do {
      r = ::write(fd, buffer, n);
    } while (r < 0 && errno == EINTR);
    return r;
  }
  int Flush(int fd) override { return ::fsync(fd) == 0 ? 0 : -1; }
  int StartWriteback(int fd, uint64_t offset, uint64_t length) override {
    return ::sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(length),
                             SYNC_FILE_RANGE_WRITE) == 0
               ? 0
               : -1;
  }
  int WaitWriteback(int fd, uint64_t offset, uint64_t length) override {
    return ::sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(length),
                             SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                 SYNC_FILE_RANGE_WAIT_AFTER) == 0
               ? 0
               : -1;
  }
  int Close(int fd) override { return ::close(fd); }
  int AdviseSequential(int fd) override {
    return ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL) == 0 ? 0 : -1;
  }
  int AdviseWillNeed(int fd, uint64_t offset, uint64_t length) override {
    return ::posix_fadvise(fd, static_cast<off_t>(offset), static_cast<off_t>(length),
                           POSIX_FADV_WILLNEED) == 0
               ? 0
               : -1;
  }
  int AdviseDontNeed(int fd, uint64_t offset, uint64_t length) override {
    return ::posix_fadvise(fd, static_cast<off_t>(offset), static_cast<off_t>(length),
                           POSIX_FADV_DONTNEED) == 0
               ? 0
               : -1;
  }
};

DeviceIo* g_override = nullptr;

}  // namespace

DeviceIo& PosixDeviceIo() {
  static Posix posix;
  return posix;
}

DeviceIo& Io() {
  return g_override != nullptr ? *g_override : PosixDeviceIo();
}

void SetDeviceIo(DeviceIo* io) {
  g_override = io;
}

}  // namespace quillmar
