// Backs the system area of a drive up to a "*.rtv" image file (raw blocks, no header) and
// restores such an image to the start of a drive.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "base/log.h"
#include "base/shown_path.h"
#include "disk/copy_engine.h"
#include "disk/copy_stop.h"
#include "disk/drive_table.h"
#include "disk/file_replacement.h"
#include "format/mpeg_reset.h"
#include "ops/backup_image.h"
#include "ops/drive_checks.h"
#include "ops/operations.h"
#include "ops/verify.h"

namespace quillmar {
namespace {

constexpr const char* kBackupFilter = "ReplayTV backup files (*.rtv)|*.rtv|All Files (*.*)|*.*||";
constexpr const char* kBackupExtension = "rtv";
// Larger than the system area of any known recorder (1000 MiB).
constexpr uint64_t kLargestKnownSystemArea = 2048000;

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

// A backup onto the source's own image would replace the very disk being backed up, one onto
// another listed drive (its image, or a file linked to it) that disk.
bool IsAListedDrive(const std::string& path, int source_index) {
  int drive = ListedDriveSharingSectorsWith(path);
  if (drive < 0)
    return false;
  ShowError(drive == source_index
                ? Format("*** ERROR: %s is the source disk itself.", ShownPath(path).c_str())
                : Format("*** ERROR: %s is drive %d or shares sectors with it:\n"
                         "           it cannot be the backup file; choose a new name.",
                         ShownPath(path).c_str(), drive));
  return true;
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
  uint64_t blocks = BackupImageSectors(source.p1_length);
  if (blocks > kLargestKnownSystemArea &&
      !AskWarning("*** WARNING: Source disk has a first partition larger than 1000 MB.\n    This "
                  "is bigger than any known ReplayTV unit!!!\n    Are you sure you want to back "
                  "up this image?")) {
    return -1;
  }
  std::string path;
  if (!ChooseBackupFile(true, "Select backup file name", &path))
    return -1;
  if (!CheckBackupFile(path) || IsAListedDrive(path, source_index) ||
      !CheckSourceHoldsImage(source, blocks)) {
    return -1;
  }
  // The image is written beside FILE and replaces it only when complete: a failure leaves the
  // old FILE as it was, never a partial image that a restore would accept.
  FileReplacement image(path);
  if (image.Create() != 0)
    return -1;
  if (on_start)
    on_start();
  auto count = static_cast<uint32_t>(std::min<uint64_t>(blocks, UINT32_MAX));
  if (CopyBlocks(source.device_path, image.temporary_path(), 0, 0, count) != 0 ||
      VerifyCopyIfAsked(source.device_path, image.temporary_path(), 0, 0, count) != 0 ||
      image.Commit() != 0) {
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
  if (!CheckWritableSectors(target_index))
    return -1;
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
                         ShownPath(target.device_path).c_str(), target.model.c_str()))) {
    return -1;
  }
  std::string path;
  if (!ChooseBackupFile(false, "Select file to restore from", &path) ||
      !CheckRestoreImage(path, target)) {
    return -1;
  }
  if (on_start)
    on_start();
  // A failed copy is not reported as a restore, and the MPEG reset is not offered after it.
  if (CopyAndVerifyIfAsked(path, target.device_path, 0, 0, 0) != 0)
    return -1;
  const bool reset =
      AskWindowYesNo(
          "Do you want to reset the root directory on the MPEG partition?\nThis will "
          "erase any recorded shows, but is RECOMMENDED to make\nsure the data in the "
          "second partition is valid.",
          "Reset MPEG partition?") == kIdYes;
  // A stop (Ctrl-C) at the question answered it No: no choice, and a reset asked for is not done.
  if (!reset && CopyStopRequested()) {
    ShowError(
        Format("*** ERROR: The image was restored to %s,\n           but the run was stopped "
               "before the MPEG partition reset.",
               ShownPath(target.device_path).c_str()));
    return -1;
  }
  if (reset && ResetMpegPartition(target.device_path) != 0) {
    // The reset has said why; the closing box says what the restore did and did not do.
    ShowError(
        Format("*** ERROR: The image was restored to %s,\n           but its MPEG partition "
               "was not reset.",
               ShownPath(target.device_path).c_str()));
    return -1;
  }
  LogLine("*** Restore complete");
  return 0;
}

}  // namespace quillmar
