// The descriptor seam: every open, seek, read, write, flush and close of a drive or image file
// goes through the process's DeviceIo. Production code uses the POSIX one; tests install a fake
// device that fails chosen sectors, returns short transfers, runs out of space or vanishes.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quillmar {

// The ways the program opens a drive or file.
enum class OpenMode {
  kReadOnly,         // classification, copy source
  kWriteOnly,        // copy target, formatter, two-drive writer
  kWriteOnlyCreate,  // a file made when missing (tools and tests; a copy never makes its target)
  kReadWrite,        // reset and patch
  kCreateNew,        // the undo file: a new file, never one that exists
};

// Which medium a descriptor reaches, to tell a disk from another put in its place under the same
// name: a file's device and inode, or a block device's number and the kernel's disk sequence
// number (new with every disk attached, loop device set up or medium changed). Zeros: unknown.
struct MediumId {
  uint64_t device = 0;
  uint64_t number = 0;
  bool operator==(const MediumId&) const = default;
};

// The errno of a write that a DeviceIo layer (the undo recorder) held back before it reached the
// drive, having shown why itself: callers fail the write without a second report.
inline constexpr int kWriteHeldBack = ECANCELED;

class DeviceIo {
 public:
  virtual ~DeviceIo() = default;
  // A descriptor, or -1 with errno set. Opens for writing of a block device are exclusive, so a
  // mounted or otherwise held disk is refused; opens for writing of an image file lock it
  // exclusively until closed, so a second writer is refused (EBUSY) the same way.
  virtual int Open(const std::string& path, OpenMode mode) = 0;
  // lseek(fd, offset, SEEK_SET): the new position, or -1.
  virtual int64_t Seek(int fd, uint64_t offset) = 0;
  // The length in bytes (lseek to the end), or -1.
  virtual int64_t Length(int fd) = 0;
  virtual ssize_t Read(int fd, void* buffer, size_t n) = 0;
  virtual ssize_t Write(int fd, const void* buffer, size_t n) = 0;
  // fsync: 0, or -1 when data could not be made durable.
  virtual int Flush(int fd) = 0;
  // Write-behind: start writeback of a byte range, and wait for a range's writeback to finish.
  // Both may be no-ops (0) where the platform has no such call.
  virtual int StartWriteback(int fd, uint64_t offset, uint64_t length) = 0;
  virtual int WaitWriteback(int fd, uint64_t offset, uint64_t length) = 0;
  virtual int Close(int fd) = 0;
  // Tells the kernel the descriptor will be read from start to end (larger read-ahead). Only a
  // hint: 0, or -1 where it is not taken; nothing depends on it.
  virtual int AdviseSequential(int /*fd*/) { return 0; }
  // Asks the kernel to start reading a byte range now, so that later reads find it in memory.
  // Only a hint, like AdviseSequential.
  virtual int AdviseWillNeed(int /*fd*/, uint64_t /*offset*/, uint64_t /*length*/) { return 0; }
  // Asks the kernel to drop its clean cached pages of a byte range (length 0: to the end), so
  // that the next reads come from the device itself. A hint as well.
  virtual int AdviseDontNeed(int /*fd*/, uint64_t /*offset*/, uint64_t /*length*/) { return 0; }
  // What medium fd reaches; zeros where the platform cannot tell.
  virtual MediumId Medium(int /*fd*/) { return {}; }
};

// The DeviceIo in use; SetDeviceIo(nullptr) restores the POSIX one.
DeviceIo& Io();
void SetDeviceIo(DeviceIo* io);

// The POSIX implementation, for fakes that pass most calls through.
DeviceIo& PosixDeviceIo();

}  // namespace quillmar
