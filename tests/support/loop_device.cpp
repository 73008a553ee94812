#include "tests/support/loop_device.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace quillmar::testing {

int RunProgram(const std::vector<std::string>& argv, std::string* out) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0)
    return -1;
  pid_t pid = ::fork();
  if (pid < 0) {
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    return -1;
  }
  if (pid == 0) {
    ::dup2(pipe_fds[1], STDOUT_FILENO);
    int devnull = ::open("/dev/null", O_WRONLY);
    if (devnull >= 0)
      ::dup2(devnull, STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  char buffer[256];
  ssize_t n;
  while ((n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0) {
    out->append(buffer, static_cast<size_t>(n));
  }
  ::close(pipe_fds[0]);
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid)
    return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

LoopDevice::LoopDevice(const std::string& file, const std::vector<std::string>& options) {
  std::vector<std::string> argv{"losetup", "--find", "--show"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(file);
  std::string out;
  if (RunProgram(argv, &out) != 0)
    return;
  while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
    out.pop_back();
  if (out.rfind("/dev/loop", 0) == 0)
    path_ = out;
}

// Runs the program until it succeeds, for a few seconds: another test process may hold the
// device for a moment.
bool RunPatiently(const std::vector<std::string>& argv) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::string ignored;
    if (RunProgram(argv, &ignored) == 0)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

LoopDevice::~LoopDevice() {
  if (!mount_point_.empty() && !RunPatiently({"umount", mount_point_}))
    ADD_FAILURE() << "could not unmount " << mount_point_;
  if (!path_.empty() && !RunPatiently({"losetup", "-d", path_}))
    ADD_FAILURE() << "could not detach " << path_;
}

bool LoopDevice::MountNewFileSystem(const std::string& folder, const std::string& mount_point) {
  std::string ignored;
  if (RunProgram({"mkfs.ext4", "-q", "-F", "-d", folder, path_}, &ignored) != 0 ||
      ::mkdir(mount_point.c_str(), 0755) != 0 ||
      RunProgram({"mount", "-o", "ro,noload", path_, mount_point}, &ignored) != 0) {
    return false;
  }
  mount_point_ = mount_point;
  return true;
}

std::string LoopDevice::Partition(int n) const {
  std::string partition = path_ + "p" + std::to_string(n);
  struct stat st {};
  std::string ignored;
  // A kernel without the partition-table parser leaves the scan to partx.
  if (::stat(partition.c_str(), &st) != 0)
    RunProgram({"partx", "-a", path_}, &ignored);
  return ::stat(partition.c_str(), &st) == 0 && S_ISBLK(st.st_mode) ? partition : "";
}

}  // namespace quillmar::testing
