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

LoopDevice::~LoopDevice() {
  if (path_.empty())
    return;
  // Another test process may hold the device for a moment; try again for a few seconds.
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::string ignored;
    if (RunProgram({"losetup", "-d", path_}, &ignored) == 0)
      return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ADD_FAILURE() << "could not detach " << path_;
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
