#include "ops/listed_drives_guard.h"

#include <cerrno>

#include "base/log.h"
#include "drives/classify.h"
#include "ops/drive_checks.h"

namespace quillmar {

namespace {

ListedDrivesGuard* g_guard = nullptr;

}  // namespace

ListedDrivesGuard::ListedDrivesGuard() : ForwardingDeviceIo(Io()) {
  SetDeviceIo(this);
  g_guard = this;
}

ListedDrivesGuard::~ListedDrivesGuard() {
  g_guard = nullptr;
  SetDeviceIo(&inner());
}

bool ListedDrivesGuard::Check() {
  checked_ = true;
  if (changed_ < 0 && (changed_ = FirstDriveChangedSinceListed()) >= 0)
    ShowError(DriveChangedSinceListedText(changed_) + ".\n           Nothing is written.");
  return changed_ < 0;
}

bool DrivesStillAsListed() {
  return g_guard == nullptr || g_guard->Check();
}

ssize_t ListedDrivesGuard::Write(int fd, const void* buffer, size_t n) {
  if (!checked_)
    Check();
  if (changed_ >= 0) {
    errno = kWriteHeldBack;  // the reason is shown: not a fault of the drive
    return -1;
  }
  return inner().Write(fd, buffer, n);
}

}  // namespace quillmar
