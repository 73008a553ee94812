#include "ops/listed_drives_guard.h"

#include <cerrno>

#include "base/log.h"
#include "drives/classify.h"
#include "ops/drive_checks.h"

namespace quillmar {

ListedDrivesGuard::ListedDrivesGuard() : ForwardingDeviceIo(Io()) {
  SetDeviceIo(this);
}

ListedDrivesGuard::~ListedDrivesGuard() {
  SetDeviceIo(&inner());
}

ssize_t ListedDrivesGuard::Write(int fd, const void* buffer, size_t n) {
  if (!checked_) {
    checked_ = true;
    changed_ = FirstDriveChangedSinceListed();
    if (changed_ >= 0)
      ShowError(DriveChangedSinceListedText(changed_) + ".\n           Nothing is written.");
  }
  if (changed_ >= 0) {
    errno = kWriteHeldBack;  // the reason is shown: not a fault of the drive
    return -1;
  }
  return inner().Write(fd, buffer, n);
}

}  // namespace quillmar
