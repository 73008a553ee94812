#include "cli/demo_drives.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/byte_order.h"
#include "base/shown_path.h"
#include "format/formatter.h"
#include "format/partition_block.h"

namespace quillmar::cli {
namespace {

constexpr uint32_t kStampEvery = 2048;  // one stamped sector per MiB of the system partition
constexpr uint32_t kStampedHead = 64;   // and every sector of its first 32 KiB

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + ShownPath(path) + ": " + std::strerror(errno);
}

// Creates path as a sparse file of the given size; fails when it exists already (fd stays -1,
// so nobody removes a file this program did not make).
std::string CreateImage(const std::string& path, uint32_t sectors, int* fd) {
  *fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (*fd < 0)
    return SystemError("cannot create", path);
  if (::ftruncate(*fd, static_cast<off_t>(sectors) * static_cast<off_t>(kBlockSize)) != 0) {
    return SystemError("cannot size", path);
  }
  return "";
}

std::string WriteSector(int fd, uint32_t sector, const Sector& data, const std::string& path) {
  off_t at = static_cast<off_t>(sector) * static_cast<off_t>(kBlockSize);
  if (::pwrite(fd, data.data(), data.size(), at) != static_cast<ssize_t>(data.size())) {
    return SystemError("cannot write", path);
  }
  return "";
}

std::string FinishImage(int fd, const std::string& path) {
  if (::fsync(fd) != 0) {
    std::string error = SystemError("cannot flush", path);
    ::close(fd);
    return error;
  }
  return ::close(fd) == 0 ? "" : SystemError("cannot close", path);
}

Sector OldPartitionBlock() {
  Sector block = EmptyPartitionBlock();
  WritePartitionEntry(block, 1, {kRecorderPartitionType, 2, kDemoSystemSectors});
  WritePartitionEntry(
      block, 2,
      {kRecorderPartitionType, kDemoSystemSectors + 2, kDemoOldSectors - kDemoSystemSectors - 2});
  return block;
}

// A recognisable text in a system-partition sector, so that a copy can be seen and checked.
Sector SystemStamp(uint32_t sector) {
  Sector data{};
  std::string text = "Quillmar demo system partition, disk sector " + std::to_string(sector);
  std::copy(text.begin(), text.end(), data.begin());
  return data;
}

std::string WriteOldDisk(const std::string& path, bool* created) {
  int fd = -1;
  std::string error = CreateImage(path, kDemoOldSectors, &fd);
  *created = fd >= 0;
  if (error.empty())
    error = WriteSector(fd, 0, OldPartitionBlock(), path);
  for (uint32_t s = 2; error.empty() && s < kDemoSystemSectors + 2; ++s) {
    if (s < kStampedHead || s % kStampEvery == 0)
      error = WriteSector(fd, s, SystemStamp(s), path);
  }
  if (fd >= 0) {
    std::string finish = FinishImage(fd, path);
    if (error.empty())
      error = finish;
  }
  if (!error.empty())
    return error;
  const uint32_t mpeg_start = kDemoSystemSectors + 2;
  const uint32_t mpeg_sectors = kDemoOldSectors - mpeg_start;
  if (FormatPartition(path, static_cast<uint64_t>(mpeg_start) * kBlockSize, false,
                      kDemoMpegClusterBytes, mpeg_sectors / (kDemoMpegClusterBytes / kBlockSize),
                      "mpeg", {}) != 0) {
    return "cannot format the MPEG partition of " + ShownPath(path);
  }
  return "";
}

std::string WriteBlankDisk(const std::string& path, bool* created) {
  int fd = -1;
  std::string error = CreateImage(path, kDemoNewSectors, &fd);
  *created = fd >= 0;
  if (fd >= 0) {
    std::string finish = FinishImage(fd, path);
    if (error.empty())
      error = finish;
  }
  return error;
}

}  // namespace

std::string MakeDemoDrives(const std::string& dir, DemoDrives* drives) {
  if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
    return SystemError("cannot create", dir);
  drives->old_path = dir + "/old.img";
  drives->new_path = dir + "/new.img";
  struct stat st {};
  for (const std::string* path : {&drives->old_path, &drives->new_path}) {
    if (::stat(path->c_str(), &st) == 0)
      return *path + " exists already; choose another folder";
  }
  bool old_created = false;
  bool new_created = false;
  std::string error = WriteOldDisk(drives->old_path, &old_created);
  if (error.empty())
    error = WriteBlankDisk(drives->new_path, &new_created);
  if (!error.empty()) {
    if (old_created)
      ::unlink(drives->old_path.c_str());
    if (new_created)
      ::unlink(drives->new_path.c_str());
  }
  return error;
}

}  // namespace quillmar::cli
