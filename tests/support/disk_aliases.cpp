#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/disk_aliases.h"

namespace quillmar::testing {

std::optional<std::string> ShellOutput(const std::string& command) {
  std::string full = "PATH=\"$PATH:/usr/sbin:/sbin\"; " + command + " 2>/dev/null";
  FILE* pipe = ::popen(full.c_str(), "r");
  if (pipe == nullptr)
    return std::nullopt;
  std::string out;
  char buffer[256];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out.append(buffer, n);
  return ::pclose(pipe) == 0 ? std::optional(out) : std::nullopt;
}

namespace {

// Another test process may hold the device for a moment: tries for a few seconds.
void Patiently(const std::string& command) {
  for (int attempt = 0; !ShellOutput(command); ++attempt) {
    if (attempt == 50) {
      ADD_FAILURE() << "failed: " << command;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

bool IsBlockDevice(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

}  // namespace

LoopDevice::LoopDevice(const std::string& file, const std::string& options) {
  std::string out =
      ShellOutput("losetup --find --show " + options + " '" + file + "'").value_or("");
  if (out.rfind("/dev/loop", 0) == 0)
    path_ = out.substr(0, out.find_first_of(" \n"));
}

LoopDevice::~LoopDevice() {
  if (!mount_point_.empty())
    Patiently("umount '" + mount_point_ + "'");
  if (!path_.empty())
    Patiently("losetup -d " + path_);
}

bool LoopDevice::MountNewFileSystem(const std::string& folder, const std::string& mount_point) {
  if (!ShellOutput("mkfs.ext4 -q -F -d '" + folder + "' " + path_ + " && mkdir '" + mount_point +
                   "' && mount -o ro,noload " + path_ + " '" + mount_point + "'"))
    return false;
  mount_point_ = mount_point;
  return true;
}

const std::vector<DiskAlias>& DiskAliases() {
  using Names = std::pair<std::string, std::string>;
  using Loops = std::list<LoopDevice>;
  static const std::vector<DiskAlias> aliases = {
      {"SamePathTwice", false, false,
       [](auto& image, Loops*) -> Names {
         return {image, image};
       }},
      {"SymbolicLink", false, false,
       [](auto& image, Loops*) -> Names {
         return {image, ::symlink(image.c_str(), (image + "~").c_str()) == 0 ? image + "~" : ""};
       }},
      {"HardLink", false, false,
       [](auto& image, Loops*) -> Names {
         return {image, ::link(image.c_str(), (image + "~").c_str()) == 0 ? image + "~" : ""};
       }},
      {"LoopDevice", true, false,
       [](auto& image, Loops* loops) -> Names {
         return {image, loops->emplace_back(image).path()};
       }},
      {"LoopDeviceWithAnOffset", true, true,
       [](auto& image, Loops* loops) -> Names {
         return {image, loops->emplace_back(image, "--offset 1048576").path()};
       }},
      {"PartitionAndItsDisk", true, true,
       [](auto& image, Loops* loops) -> Names {
         const std::string disk = loops->emplace_back(image, "-P").path(), part = disk + "p1";
         if (!disk.empty() && !IsBlockDevice(part))  // no partition-table parser: partx adds it
           ShellOutput("partx -a " + disk);
         return {disk, !disk.empty() && IsBlockDevice(part) ? part : ""};
       }},
      {"ImageOnAFileSystemOfTheDisk", true, true,
       [](auto& image, Loops* loops) -> Names {
         std::filesystem::create_directory(image + ".files");
         std::ofstream(image + ".files/drive.img") << std::string(4096, 'q');
         LoopDevice& disk = loops->emplace_back(image);
         bool made = !disk.path().empty() && disk.MountNewFileSystem(image + ".files", image + "~");
         return {disk.path(), made ? image + "~/drive.img" : ""};
       }},
  };
  return aliases;
}

}  // namespace quillmar::testing
