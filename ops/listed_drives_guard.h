// The last check before an operation writes: at its first write every listed drive must still be
// what the list says. A disk swapped, removed or rewritten while a question waited (or since the
// command line listed the drives) is refused there, and nothing is written.
#pragma once

#include "disk/forwarding_device_io.h"

namespace quillmar {

// Installed over the current DeviceIo for its lifetime.
class ListedDrivesGuard final : public ForwardingDeviceIo {
 public:
  ListedDrivesGuard();
  ~ListedDrivesGuard() override;
  ListedDrivesGuard(const ListedDrivesGuard&) = delete;
  ListedDrivesGuard& operator=(const ListedDrivesGuard&) = delete;

  // The first write classifies the drives again; a changed drive holds back every write.
  ssize_t Write(int fd, const void* buffer, size_t n) override;

  // The drive found changed, or -1.
  int changed_drive() const { return changed_; }

 private:
  friend bool DrivesStillAsListed();
  bool Check();

  bool checked_ = false;
  int changed_ = -1;
};

// With a guard installed, checks the drives again, for a dialog that waited after the first
// check (the undo file's): false, shown, when one changed; every write is then held back.
bool DrivesStillAsListed();

}  // namespace quillmar
