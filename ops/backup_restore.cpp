// Backs the system area of a drive up to a "*.rtv" image file (raw blocks, no header) and
// restores such an image to the start of a drive.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "app/log.h"
#include "disk/copy_engine.h"
#include "disk/drive_table.h"
#include "format/mpeg_reset.h"
#include "ops/drive_checks.h"
#include "ops/operations.h"
#include "ops/verify.h"

namespace quillmar {
namespace {

constexpr const char* kBackupFilter = "ReplayTV backup files (*.rtv)|*.rtv|All Files (*.*)|*.*||";
constexpr const char* kBackupExtension = "rtv";
// Sectors 0 and 1 and the first 10,240 sectors of partition 2 around the system partition.
constexpr int64_t kSystemAreaExtraSectors = 2 + 10240;
// Larger than the system area of any known recorder (1000 MiB).
constexpr int64_t kLargestKnownSystemArea = 2048000;

bool AskWarning(const std::string& text) {
  return AskWindowYesNo(text, "Warning") == kIdYes;
}

bool ChooseBackupFile(bool save, const char* title, std::string* path) {
  FileChoiceRequest request;
  request.save = save;
  request.title = title;
  request.filter = kBackupFilter;
  request.default_extension = kBackupExtension;
  return ChooseFile(request, path);
}

// An existing image file is emptied before the new image is written, so that it ends up holding
// exactly the new blocks and no tail of an older, longer image. Devices are left as they are.
bool EmptyExistingImageFile(const std::string& path, const std::string& source_path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error))
    return true;
  // Emptying the source's own image would destroy the very disk being backed up.
  if (std::filesystem::equivalent(path, source_path, error)) {
    ShowError(Format("*** ERROR: %s is the source disk itself.", path.c_str()));
    return false;
  }
  std::filesystem::resize_file(path, 0, error);
  if (!error)
    return true;
  ShowError(Format("*** ERROR: Could not empty file %s", path.c_str()));
  return false;
}

}  // namespace

int BackupSourceDrive(int source_index, const OperationStart& on_start) {
  if (!IsDriveIndex(source_index)) {
    ShowError("You must select a disk first.");
    return -1;
  }
  const DriveInfo& source = DriveAt(source_index);
  if (!source.is_replaytv &&
      !AskWarning("*** WARNING: Source disk does not seem to be a ReplayTV disk.\n    Do you want "
                  "to continue?")) {
    return -1;
  }
  int64_t blocks = int64_t{source.p1_length} + kSystemAreaExtraSectors;
  if (blocks > kLargestKnownSystemArea &&
      !AskWarning("*** WARNING: Source disk has a first partition larger than 1000 MB.\n    This "
                  "is bigger than any known ReplayTV unit!!!\n    Are you sure you want to back "
                  "up this image?")) {
    return -1;
  }
  std::string path;
  if (!ChooseBackupFile(true, "Select backup file name", &path))
    return -1;
  if (!EmptyExistingImageFile(path, source.device_path))
    return -1;
  if (on_start)
    on_start();
  auto count = static_cast<uint32_t>(std::min<int64_t>(blocks, UINT32_MAX));
  if (CopyBlocks(source.device_path, path, 0, 0, count) != 0 ||
      VerifyCopyIfAsked(source.device_path, path, 0, 0, count) != 0) {
    return -1;
  }
  LogLine("*** Backup complete");
  return 0;
}

int RestoreTargetDrive(int target_index, const OperationStart& on_start) {
  if (!IsDriveIndex(target_index)) {
    ShowError("You must select a disk first.");
    return -1;
  }
  const DriveInfo& target = DriveAt(target_index);
  if (target.system_disk &&
      !AskWarning(Format("*** WARNING: Drive %d contains non-ReplayTV partition information\n*** "
                         "WARNING: and may be one of your PC's drives.\n    Are you sure you "
                         "want to continue?",
                         target_index))) {
    return -1;
  }
  if (!AskWarning(Format("*** Warning: This will OVERWRITE the contents of the target drive\n    "
                         "%s (%s)\n*** Are you SURE that you want to continue?",
                         target.device_path.c_str(), target.model.c_str()))) {
    return -1;
  }
  std::string path;
  if (!ChooseBackupFile(false, "Select file to restore from", &path))
    return -1;
  if (on_start)
    on_start();
  // A failed copy is not reported as a restore, and the MPEG reset is not offered after it.
  if (CopyBlocks(path, target.device_path, 0, 0, 0) != 0 ||
      VerifyCopyIfAsked(path, target.device_path, 0, 0, 0) != 0) {
    return -1;
  }
  if (AskWindowYesNo("Do you want to reset the root directory on the MPEG partition?\nThis will "
                     "erase any recorded shows, but is RECOMMENDED to make\nsure the data in the "
                     "second partition is valid.",
                     "Reset MPEG partition?") == kIdYes) {
    ResetMpegPartition(target.device_path);
  }
  LogLine("*** Restore complete");
  return 0;
}

}  // namespace quillmar
