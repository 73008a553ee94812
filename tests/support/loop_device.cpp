#include "tests/support/loop_device.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

namespace quillmar::testing {
namespace {

// Runs a shell command; its standard output, or nothing when it failed.
std::optional<std::string> Output(const std::string& command) {
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr)
    return std::nullopt;
  std::string out;
  char buffer[256];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out.append(buffer, n);
  return ::pclose(pipe) == 0 ? std::optional(out) : std::nullopt;
}

// Another test process may hold the device for a moment: tries for a few seconds.
bool Patiently(const std::string& command) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (Output(command))
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

bool IsBlockDevice(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

}  // namespace

LoopDevice::LoopDevice(const std::string& file, const std::string& options) {
  std::string out = Output("losetup --find --show " + options + " '" + file + "'").value_or("");
  if (out.rfind("/dev/loop", 0) == 0)
    path_ = out.substr(0, out.find_first_of(" \n"));
}

LoopDevice::~LoopDevice() {
  if (!mount_point_.empty() && !Patiently("umount " + mount_point_))
    ADD_FAILURE() << "could not unmount " << mount_point_;
  if (!path_.empty() && !Patiently("losetup -d " + path_))
    ADD_FAILURE() << "could not detach " << path_;
}

std::string LoopDevice::Partition(int n) const {
  std::string partition = path_ + "p" + std::to_string(n);
  if (!IsBlockDevice(partition))  // a kernel without the partition-table parser leaves it to partx
    Output("partx -a " + path_);
  return IsBlockDevice(partition) ? partition : "";
}

bool LoopDevice::MountNewFileSystem(const std::string& folder, const std::string& mount_point) {
  if (!Output("mkfs.ext4 -q -F -d '" + folder + "' " + path_ + " && mkdir '" + mount_point +
              "' && mount -o ro,noload " + path_ + " '" + mount_point + "'")) {
    return false;
  }
  mount_point_ = "'" + mount_point + "'";
  return true;
}

}  // namespace quillmar::testing
