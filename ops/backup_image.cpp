#include "ops/backup_image.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "base/log.h"
#include "base/shown_path.h"
#include "disk/block_io.h"
#include "disk/device_io.h"
#include "disk/file_replacement.h"
#include "disk/unique_fd.h"
#include "format/partition_block.h"
#include "ops/drive_checks.h"

namespace quillmar {
namespace {

// Sectors 0 and 1 and the first 10,240 sectors of partition 2 around the system partition.
constexpr uint64_t kSystemAreaExtraSectors = 2 + 10240;

void ShowFileProblem(const std::string& path, const char* problem) {
  ShowError(Format("*** ERROR: %s: %s", ShownPath(path).c_str(), problem));
}

// stat of a file that must be a regular one; false when it is not (shown).
bool StatRegularFile(const std::string& path, struct stat* st) {
  if (::stat(path.c_str(), st) != 0) {
    ShowFileProblem(path, std::strerror(errno));
    return false;
  }
  if (S_ISREG(st->st_mode))
    return true;
  ShowError(Format("*** ERROR: %s is not a regular file.", ShownPath(path).c_str()));
  return false;
}

// The length in sectors of a drive or file, read through the descriptor seam; -1 when it cannot
// be opened or measured (shown).
int64_t MeasuredSectors(const std::string& path) {
  UniqueFd fd = UniqueFd::Open(path, OpenMode::kReadOnly);
  if (!fd.valid()) {
    ReportOpenFailure(path);
    return -1;
  }
  int64_t length = Io().Length(fd.get());
  if (length < 0) {
    ShowFileProblem(path, "the size cannot be measured");
    return -1;
  }
  return length / static_cast<int64_t>(kBlockSize);
}

// Sector 0 of the image in standard order; false when it cannot be read (shown).
bool ReadImageSector0(const std::string& path, Sector* sector0) {
  UniqueFd fd = UniqueFd::Open(path, OpenMode::kReadOnly);
  if (!fd.valid()) {
    ReportOpenFailure(path);
    return false;
  }
  if (ReadBlocks(fd.get(), sector0->data(), kBlockSize, false) != static_cast<int>(kBlockSize))
    return false;
  if (IsRtv4000Order(*sector0))
    Rtv4000Byteswap(*sector0);
  return true;
}

bool IsReplayTvPartitionBlock(const Sector& sector0) {
  return ReadPartitionEntry(sector0, 1).type == kRecorderPartitionType &&
         ReadPartitionEntry(sector0, 2).type == kRecorderPartitionType;
}

// A partition block, and as many sectors as the image it begins describes; false when not (shown).
bool CheckImageContents(const std::string& path, uint64_t sectors) {
  Sector sector0{};
  if (sectors != 0 && !ReadImageSector0(path, &sector0))
    return false;
  if (sectors == 0 || !IsReplayTvPartitionBlock(sector0)) {
    ShowError(Format("*** ERROR: %s holds no ReplayTV partition block.", ShownPath(path).c_str()));
    return false;
  }
  uint64_t needed = BackupImageSectors(ReadPartitionEntry(sector0, 1).length);
  if (sectors >= needed)
    return true;
  ShowError(Format("*** ERROR: %s holds %" PRIu64
                   " sectors; the system area its partition block describes needs %" PRIu64 ".",
                   ShownPath(path).c_str(), sectors, needed));
  return false;
}

}  // namespace

uint64_t BackupImageSectors(uint32_t p1_length) {
  return p1_length + kSystemAreaExtraSectors;
}

bool CheckBackupFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 || errno != ENOENT)
    return StatRegularFile(path, &st);
  std::string folder = FolderOf(path);
  if (::access(folder.c_str(), W_OK | X_OK) == 0)
    return true;
  ShowError(Format("*** ERROR: Could not create a file in folder %s: %s", ShownPath(folder).c_str(),
                   std::strerror(errno)));
  return false;
}

bool CheckSourceHoldsImage(const DriveInfo& source, uint64_t sectors) {
  int64_t length = MeasuredSectors(source.device_path);
  if (length < 0)
    return false;
  if (static_cast<uint64_t>(length) >= sectors)
    return true;
  ShowError(Format("*** ERROR: Source disk %s holds %" PRId64 " sectors; its backup needs %" PRIu64
                   ".",
                   ShownPath(source.device_path).c_str(), length, sectors));
  return false;
}

bool CheckRestoreImage(const std::string& path, const DriveInfo& target) {
  struct stat st {};
  if (!StatRegularFile(path, &st))
    return false;
  auto bytes = static_cast<uint64_t>(st.st_size);
  if (bytes % kBlockSize != 0) {
    ShowError(Format("*** ERROR: %s is not a whole number of 512-byte sectors (%" PRIu64 " bytes).",
                     ShownPath(path).c_str(), bytes));
    return false;
  }
  uint64_t sectors = bytes / kBlockSize;
  if (!CheckImageContents(path, sectors))
    return false;
  int64_t room = MeasuredSectors(target.device_path);
  if (room < 0)
    return false;
  if (sectors <= static_cast<uint64_t>(room))
    return true;
  ShowError(Format("*** ERROR: %s holds %" PRIu64 " sectors; target drive %s holds only %" PRId64
                   ".",
                   ShownPath(path).c_str(), sectors, ShownPath(target.device_path).c_str(), room));
  return false;
}

}  // namespace quillmar
