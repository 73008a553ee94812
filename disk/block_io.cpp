#include "disk/block_io.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "base/log.h"
#include "base/shown_path.h"
#include "disk/device_io.h"

namespace quillmar {
namespace {

// With the system's reason, when there is one (error 0: the drive took nothing, without one).
void ReportWriteError(int error) {
  LogAndShow(error == 0 ? std::string("*** ERROR writing block")
                        : Format("*** ERROR writing block (%s)", std::strerror(error)),
             "*** ERROR ***");
}

// sync_file_range refuses some files (pipes, some file systems): then there is no write-behind.
bool WriteBehindUnsupported(int error) {
  return error == EINVAL || error == ESPIPE || error == ENOSYS || error == EOPNOTSUPP;
}

int WriteBehindResult(int result) {
  if (result == 0)
    return 0;
  if (WriteBehindUnsupported(errno))
    return 1;
  ReportWriteError(errno);
  return -1;
}

}  // namespace

int SeekExact(int fd, uint64_t offset) {
  int64_t result = Io().Seek(fd, offset);
  if (result == -1) {
    LogLine("File seek error");
    return 0;
  }
  if (static_cast<uint64_t>(result) != offset) {
    LogLine(Format("File seek error: wanted %" PRIu64 " got %" PRIu64, offset,
                   static_cast<uint64_t>(result)));
    return 0;
  }
  return 1;
}

int ReadBlocks(int fd, uint8_t* buffer, size_t n, bool quiet) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = Io().Read(fd, buffer + done, n - done);
    if (r < 0) {
      std::memset(buffer + done, 0, n - done);
      if (!quiet)
        LogAndShow("*** ERROR reading block", "*** ERROR ***");
      return -1;
    }
    if (r == 0) {
      std::memset(buffer + done, 0, n - done);
      if (!quiet)
        LogAndShow("*** ERROR: Unexpected EOF", "*** ERROR ***");
      return static_cast<int>(done);
    }
    done += static_cast<size_t>(r);
  }
  return static_cast<int>(done);
}

int WriteBlocks(int fd, const uint8_t* buffer, size_t n, size_t* written) {
  size_t ignored = 0;
  size_t& done = written != nullptr ? *written : ignored;
  done = 0;
  while (done < n) {
    ssize_t r = Io().Write(fd, buffer + done, n - done);
    if (r <= 0) {  // an error, or no progress (a full device): never loop without progress
      if (r < 0 && errno == kWriteHeldBack)
        return -1;  // never reached the drive, and the reason is shown already
      ReportWriteError(r < 0 ? errno : 0);
      return -1;
    }
    done += static_cast<size_t>(r);
  }
  return static_cast<int>(done);
}

int FlushBlocks(int fd) {
  if (Io().Flush(fd) == 0)
    return 0;
  ReportWriteError(errno);
  return -1;
}

int FlushAndClose(UniqueFd& fd) {
  if (FlushBlocks(fd.get()) != 0) {
    fd.Close();
    return -1;
  }
  if (fd.Close() != 0) {
    ReportWriteError(errno);
    return -1;
  }
  return 0;
}

int StartWriteBehind(int fd, uint64_t offset, uint64_t length) {
  return WriteBehindResult(Io().StartWriteback(fd, offset, length));
}

int AwaitWriteBehind(int fd, uint64_t offset, uint64_t length) {
  return WriteBehindResult(Io().WaitWriteback(fd, offset, length));
}

std::string OpenFailureText(const std::string& path) {
  const std::string reason = errno == EBUSY   ? "busy: mounted, or written by another program"
                             : errno == EROFS ? "read-only: the disk is write-protected"
                                              : std::strerror(errno);
  return Format("*** ERROR: Could not open device %s (%s)", ShownPath(path).c_str(),
                reason.c_str());
}

void ReportOpenFailure(const std::string& path) {
  std::string text = OpenFailureText(path);
  LogLine(text);
  LogAndShow(text, "*** ERROR ***");
}

}  // namespace quillmar
