#include <fcntl.h>
#include <linux/fs.h>
#include <linux/loop.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <mutex>
#include <string>

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

// The file behind a loop device (or a partition of one), opened to be locked as its writers lock
// it: a writer of the device then excludes a writer of the file, and the other way round. -1 when
// fd is no loop device, or its file is gone or cannot be opened (the device's own exclusive open
// still guards it).
int OpenLoopBackingFile(int fd) {
  struct stat device {};
  loop_info64 info{};
  if (::fstat(fd, &device) != 0 || !S_ISBLK(device.st_mode) ||
      ::ioctl(fd, LOOP_GET_STATUS64, &info) != 0) {
    return -1;
  }
  std::string backing;
  std::getline(
      std::ifstream("/sys/block/loop" + std::to_string(info.lo_number) + "/loop/backing_file"),
      backing);
  int file = backing.empty() ? -1 : ::open(backing.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (file >= 0 && (::fstat(file, &st) != 0 || st.st_ino != info.lo_inode ||
                    st.st_dev != static_cast<dev_t>(info.lo_device))) {
    ::close(file);  // renamed over since it was attached: not the file the device reads
    return -1;
  }
  return file;
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
    const bool block_writer = mode != OpenMode::kReadOnly && IsBlockDevice(path);
    if (block_writer)
      flags |= O_EXCL;
    int fd;
    do {
      fd = ::open(path.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 || mode == OpenMode::kReadOnly)
      return fd;
    // A write-protected disk (a read-only loop device, a locked card) takes the open but refuses
    // every write: refused here, before an operation writes one of its drives and not the other.
    int read_only = 0;
    if (block_writer && ::ioctl(fd, BLKROGET, &read_only) == 0 && read_only != 0) {
      ::close(fd);
      errno = EROFS;
      return -1;
    }
    int backing = OpenLoopBackingFile(fd);
    if (!LockImageFile(fd) || (backing >= 0 && !LockImageFile(backing))) {
      if (backing >= 0)
        ::close(backing);
      ::close(fd);
      errno = EBUSY;
      return -1;
    }
    if (backing >= 0) {
      std::lock_guard<std::mutex> hold(locks_mutex_);
      backing_locks_[fd] = backing;
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
  MediumId Medium(int fd) override {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
      return {};
    if (!S_ISBLK(st.st_mode))
      return {st.st_dev, st.st_ino};
    uint64_t sequence = 0;  // 0 where the kernel has no disk sequence numbers (before 5.15)
    if (::ioctl(fd, BLKGETDISKSEQ, &sequence) != 0)
      sequence = 0;
    return {st.st_rdev, sequence};
  }
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
  int Close(int fd) override {
    int backing = -1;
    {
      std::lock_guard<std::mutex> hold(locks_mutex_);
      if (auto lock = backing_locks_.find(fd); lock != backing_locks_.end()) {
        backing = lock->second;
        backing_locks_.erase(lock);
      }
    }
    int closed = ::close(fd);
    if (backing >= 0)
      ::close(backing);  // the file's lock outlives the device's last write
    return closed;
  }
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

 private:
  std::mutex locks_mutex_;
  std::map<int, int> backing_locks_;  // a loop device open for writing: its backing file, locked
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
