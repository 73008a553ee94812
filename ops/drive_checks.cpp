#include "ops/drive_checks.h"

#include "base/log.h"

namespace quillmar {

const char* const kTargetSystemDiskWarning =
    "Target disk appears to be a System Disk!!!\n"
    "YOU SHOULD NEVER OVERWRITE A SYSTEM DISK!!!\n"
    "Please remove the partitions from the target disk\n"
    "and reboot your computer before continuing\n"
    "CONTINUE AT YOUR OWN RISK, ONLY IF YOU KNOW WHAT YOU ARE DOING!!!";

const char* const kSourceNotReplayTv = "Source disk does not seem to be a ReplayTV disk.";

bool IsDriveIndex(int index) {
  return index >= 0 && index < kMaxDrives;
}

void ShowError(const std::string& text) {
  LogAndShow(text, kErrorCaption);
}

bool CheckSourceAndTargetSelected(int source, int target) {
  if (IsDriveIndex(source) && IsDriveIndex(target))
    return true;
  ShowError("You must specify a source and a target disk.");
  return false;
}

bool CheckSourceAndTarget(int source, int target) {
  if (!CheckSourceAndTargetSelected(source, target))
    return false;
  if (source == target) {
    ShowError("Source and Target disks MUST NOT be the same.");
    return false;
  }
  return true;
}

}  // namespace quillmar
