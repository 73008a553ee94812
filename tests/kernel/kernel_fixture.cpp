#include "tests/kernel/kernel_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace quillmar::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// argv as execvp wants it; built before fork, so the child only duplicates and executes.
std::vector<char*> ExecArguments(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  return args;
}

// Child side: stdout to out (or /dev/null), stderr and stdin to /dev/null.
[[noreturn]] void ExecChild(char* const* args, int out) {
  int null = ::open("/dev/null", O_RDWR);
  ::dup2(out >= 0 ? out : null, STDOUT_FILENO);
  ::dup2(null, STDERR_FILENO);
  ::dup2(null, STDIN_FILENO);
  ::execvp(args[0], args);
  ::_exit(127);
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR)
      return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs argv until it succeeds or the time is up.
bool RetryFor(const std::vector<std::string>& argv, Clock::duration limit) {
  auto deadline = Clock::now() + limit;
  while (RunProgram(argv) != 0) {
    if (Clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

bool IsMountedImage(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv, std::string* output) {
  int ends[2] = {-1, -1};
  if (output != nullptr && ::pipe2(ends, O_CLOEXEC) != 0)
    return -1;
  std::vector<char*> args = ExecArguments(argv);
  pid_t pid = ::fork();
  if (pid == 0)
    ExecChild(args.data(), ends[1]);
  if (ends[1] >= 0)
    ::close(ends[1]);
  if (pid < 0) {
    if (ends[0] >= 0)
      ::close(ends[0]);
    return -1;
  }
  if (output != nullptr) {
    output->clear();
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(ends[0], buffer, sizeof buffer)) > 0)
      output->append(buffer, static_cast<size_t>(n));
    ::close(ends[0]);
    while (!output->empty() && output->back() == '\n')
      output->pop_back();
  }
  return WaitFor(pid);
}

std::string KernelTestsUnavailable() {
  if (::geteuid() != 0)
    return "needs root (loop devices, mounts)";
  if (::access("/dev/fuse", R_OK | W_OK) != 0)
    return "needs /dev/fuse";
  if (RunProgram({"fusermount3", "-V"}) != 0)
    return "needs fusermount3";
  // Once per run: can a loop device be attached here at all?
  static const std::string loop_problem = [] {
    char pattern[] = "/tmp/quillmar-loop-probe-XXXXXX";
    int fd = ::mkstemp(pattern);
    if (fd < 0)
      return std::string("cannot make a file in /tmp");
    bool sized = ::ftruncate(fd, 1 << 20) == 0;
    ::close(fd);
    bool attached = false;
    if (sized) {
      LoopDevice probe(pattern);
      attached = probe.valid();
    }
    ::unlink(pattern);
    return attached ? std::string() : std::string("losetup cannot attach a loop device here");
  }();
  return loop_problem;
}

void MakeSparseFile(const std::string& path, uint64_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0)
    return;
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0)
    ::unlink(path.c_str());
  ::close(fd);
}

FaultFs::FaultFs(const std::string& backing, const std::string& mountpoint,
                 const std::vector<std::string>& faults)
    : mountpoint_(mountpoint) {
  std::vector<std::string> argv = {QUILLMAR_FAULT_FS, backing, mountpoint};
  argv.insert(argv.end(), faults.begin(), faults.end());
  std::vector<char*> args = ExecArguments(argv);
  pid_ = ::fork();
  if (pid_ == 0)
    ExecChild(args.data(), -1);
  if (pid_ < 0)
    return;
  auto deadline = Clock::now() + 5s;
  while (Clock::now() < deadline) {
    if (IsMountedImage(image())) {
      mounted_ = true;
      return;
    }
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {  // it gave up
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(10ms);
  }
}

FaultFs::~FaultFs() {
  // Someone (udev, blkid) may still hold the loop device over the image for a moment: retry the
  // unmount for a few seconds, then detach the mount lazily.
  if (mounted_ && !RetryFor({"fusermount3", "-u", mountpoint_}, 5s)) {
    RunProgram({"fusermount3", "-u", "-z", mountpoint_});
  }
  if (pid_ > 0) {
    if (::waitpid(pid_, nullptr, WNOHANG) != pid_) {
      auto deadline = Clock::now() + 2s;
      while (::waitpid(pid_, nullptr, WNOHANG) != pid_) {
        if (Clock::now() > deadline) {
          ::kill(pid_, SIGKILL);
          ::waitpid(pid_, nullptr, 0);
          break;
        }
        std::this_thread::sleep_for(10ms);
      }
    }
  }
}

LoopDevice::LoopDevice(const std::string& file) {
  std::string path;
  if (RunProgram({"losetup", "--find", "--show", file}, &path) == 0)
    path_ = path;
}

LoopDevice::~LoopDevice() {
  if (!path_.empty())
    RetryFor({"losetup", "-d", path_}, 5s);
}

Mount::Mount(const std::string& type, const std::string& source, const std::string& dir,
             const std::string& options)
    : dir_(dir) {
  std::vector<std::string> argv = {"mount", "-t", type};
  if (!options.empty())
    argv.insert(argv.end(), {"-o", options});
  argv.insert(argv.end(), {source, dir});
  mounted_ = RunProgram(argv) == 0;
}

Mount::~Mount() {
  if (mounted_ && !RetryFor({"umount", dir_}, 5s))
    RunProgram({"umount", "-l", dir_});
}

}  // namespace quillmar::testing
