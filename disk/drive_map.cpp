#include "disk/drive_map.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>
#include <tuple>

#include "base/log.h"
#include "base/shown_path.h"
#include "disk/drive_identity.h"
#include "disk/drive_table.h"
#include "disk/sysfs_attribute.h"

namespace quillmar {
namespace {

namespace fs = std::filesystem;

// SCSI peripheral device type of CD and DVD drives.
constexpr int kOpticalDeviceType = 5;

struct Disk {
  unsigned major = 0;
  unsigned minor = 0;
  std::string path;
};

std::vector<std::string> g_explicitPaths;
std::optional<std::vector<std::string>> g_machineDisks;

// loop, ram, zram, device-mapper, md and nbd devices all live under /devices/virtual/.
bool IsVirtual(const fs::path& entry) {
  std::error_code error;
  fs::path real = fs::canonical(entry, error);
  if (error)
    return true;  // a dangling entry is nothing we can use
  return real.generic_string().find("/devices/virtual/") != std::string::npos;
}

bool IsOptical(const std::string& name, const fs::path& entry) {
  if (name.rfind("sr", 0) == 0)
    return true;
  std::optional<uint64_t> type = ReadNumber(entry / "device" / "type");
  return type && *type == kOpticalDeviceType;
}

// Block device names with a '!' stand for a subdirectory of /dev ("cciss!c0d0").
std::string DevicePathFor(std::string name) {
  std::replace(name.begin(), name.end(), '!', '/');
  return "/dev/" + name;
}

std::optional<Disk> WholeDisk(const fs::directory_entry& item) {
  std::string name = item.path().filename().string();
  if (IsVirtual(item.path()) || IsOptical(name, item.path()))
    return std::nullopt;
  std::optional<uint64_t> size = ReadNumber(item.path() / "size");
  if (!size || *size == 0)
    return std::nullopt;
  std::optional<std::string> dev = ReadAttribute(item.path() / "dev");
  Disk disk;
  if (!dev || !ParseDeviceNumber(*dev, &disk.major, &disk.minor))
    return std::nullopt;
  disk.path = DevicePathFor(name);
  return disk;
}

const std::vector<std::string>& MachineDisks() {
  if (!g_machineDisks)
    g_machineDisks = DiscoverMachineDisks();
  return *g_machineDisks;
}

// Why path cannot be a drive ("" when it can): it must be an image file or a block device, as
// the probe takes them. Anything else would only show as an "Empty" row.
std::string DrivePathProblem(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return Format("--drive %s: %s", ShownPath(path).c_str(), std::strerror(errno));
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))
    return Format("--drive %s: not an image file or a block device", ShownPath(path).c_str());
  return "";
}

}  // namespace

std::vector<std::string> DiscoverDisks(const std::string& sysfs_root) {
  std::vector<Disk> disks;
  std::error_code error;
  for (const fs::directory_entry& item :
       fs::directory_iterator(fs::path(sysfs_root) / "block", error)) {
    if (std::optional<Disk> disk = WholeDisk(item))
      disks.push_back(*disk);
  }
  std::sort(disks.begin(), disks.end(), [](const Disk& a, const Disk& b) {
    return std::tie(a.major, a.minor) < std::tie(b.major, b.minor);
  });
  std::vector<std::string> paths;
  for (const Disk& disk : disks) {
    if (paths.size() == kMaxDrives)
      break;
    paths.push_back(disk.path);
  }
  return paths;
}

std::vector<std::string> DiscoverMachineDisks() {
  return DiscoverDisks("/sys");
}

void SetDrivePaths(const std::vector<std::string>& paths) {
  size_t count = std::min(paths.size(), static_cast<size_t>(kMaxDrives));
  g_explicitPaths.assign(paths.begin(), paths.begin() + static_cast<ptrdiff_t>(count));
  g_machineDisks.reset();  // the default is looked up afresh when it is next needed
}

std::string DrivePath(int index) {
  const std::vector<std::string>& paths =
      g_explicitPaths.empty() ? MachineDisks() : g_explicitPaths;
  if (index < 0 || static_cast<size_t>(index) >= paths.size())
    return "";
  return paths[static_cast<size_t>(index)];
}

int EarlierNameOfSameDisk(int index) {
  std::string path = DrivePath(index);
  if (path.empty())
    return -1;
  DriveExtent extent = ExtentOf(path);
  for (int earlier = 0; earlier < index; ++earlier) {
    std::string other = DrivePath(earlier);
    if (!other.empty() && RelationOf(ExtentOf(other), extent) == DiskRelation::kSame)
      return earlier;
  }
  return -1;
}

std::string DrivePathsProblem(const std::vector<std::string>& paths) {
  if (paths.size() > static_cast<size_t>(kMaxDrives)) {
    return Format("--drive given %zu times: at most %d drives (0 to %d) can be named", paths.size(),
                  kMaxDrives, kMaxDrives - 1);
  }
  for (const std::string& path : paths) {
    if (std::string problem = DrivePathProblem(path); !problem.empty())
      return problem;
  }
  return "";
}

std::string LogPathDrivesProblem(const std::string& log_path,
                                 const std::vector<std::string>& paths) {
  for (const std::string& drive : paths) {
    if (!log_path.empty() && DiskRelationOf(log_path, drive) != DiskRelation::kSeparate)
      return "--log " + log_path + " is the drive " + drive + " or shares sectors with it";
  }
  return "";
}

bool DrivePathsGiven() {
  return !g_explicitPaths.empty();
}

void ForgetMachineDisks() {
  g_machineDisks.reset();
}

}  // namespace quillmar
