// Shell commands, loop devices, and the ways two drive paths reach one disk, listed once for the
// tests of every front-end; defined in disk_image.cpp.
#pragma once

#include <functional>
#include <list>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace quillmar::testing {

// Runs a shell command (/usr/sbin and /sbin added to PATH): its output, or nothing on failure.
std::optional<std::string> ShellOutput(const std::string& command);

// A loop device attached over an image file by losetup, for tests that need a real block device
// (root only). It unmounts what it mounted and detaches exactly the device it attached, also
// when the test fails.
class LoopDevice {
 public:
  // losetup --find --show OPTIONS FILE; path() is "" when that failed.
  LoopDevice(const std::string& file, const std::string& options = "");
  ~LoopDevice();
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  const std::string& path() const { return path_; }
  // Puts an ext4 file system holding the files of folder on the device and mounts it read-only
  // at mount_point (a new folder); false when that failed.
  bool MountNewFileSystem(const std::string& folder, const std::string& mount_point);

 private:
  std::string path_;
  std::string mount_point_;
};

struct DiskAlias {
  const char* name;
  bool needs_root;   // attaches loop devices
  bool overlapping;  // the names share some sectors only; otherwise they are the very same disk
  // The two names of the disk in image; devices go into *loops. A name is "" when a device
  // could not be made.
  std::function<std::pair<std::string, std::string>(const std::string& image,
                                                    std::list<LoopDevice>* loops)>
      names;
};

const std::vector<DiskAlias>& DiskAliases();

inline void PrintTo(const DiskAlias& alias, std::ostream* out) {
  *out << alias.name;
}

}  // namespace quillmar::testing
