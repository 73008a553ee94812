// The probe and the classification on a real block device: a sparse image file attached as a
// loop device, measured through BLKGETSIZE64. Needs root and a working losetup; skipped
// otherwise. Every test detaches exactly the device it attached, also when it fails.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "disk/drive_map.h"
#include "disk/drive_probe.h"
#include "disk/drive_table.h"
#include "format/partition_block.h"
#include "tests/support/param_names.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

constexpr uint64_t kSectors = 131072;  // 64 MiB

// Runs a program (no shell) and returns its exit status; its standard output goes to *out.
int Run(const std::vector<std::string>& argv, std::string* out) {
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

// A loop device attached over one file, detached (that device only) when it goes.
class LoopDevice {
 public:
  LoopDevice(const std::string& file, const std::vector<std::string>& options) {
    std::vector<std::string> argv{"losetup", "--find", "--show"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(file);
    std::string out;
    if (Run(argv, &out) != 0)
      return;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
      out.pop_back();
    if (out.rfind("/dev/loop", 0) == 0)
      path_ = out;
  }
  ~LoopDevice() {
    if (path_.empty())
      return;
    // Another test process may hold the device for a moment; try again for a few seconds.
    for (int attempt = 0; attempt < 50; ++attempt) {
      std::string ignored;
      if (Run({"losetup", "-d", path_}, &ignored) == 0)
        return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ADD_FAILURE() << "could not detach " << path_;
  }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class LoopDeviceProbe : public ::testing::Test {
 protected:
  LoopDeviceProbe() { ResetDriveTable(); }
  ~LoopDeviceProbe() override {
    SetDrivePaths({});
    ResetDriveTable();
  }

  // A sparse 64 MiB recorder disk whose partitions fill it.
  std::string MakeImage() {
    std::string path = dir_.File("recorder.img");
    Sector s0 = EmptyPartitionBlock();
    WritePartitionEntry(s0, 1, {kRecorderPartitionType, 2, 1000});
    WritePartitionEntry(s0, 2, {kRecorderPartitionType, 1002, kSectors - 1002});
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::pwrite(fd, s0.data(), s0.size(), 0), static_cast<ssize_t>(s0.size()));
    EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(kSectors * kBlockSize)), 0);
    EXPECT_EQ(::close(fd), 0);
    return path;
  }

  testing::TempDir dir_;
  testing::ScriptedFrontEnd ui_{true, dir_.File("quillmar.log")};
};

class LoopSectorSize : public LoopDeviceProbe, public ::testing::WithParamInterface<int> {};

TEST_P(LoopSectorSize, IsMeasuredByItsLengthAndClassified) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "attaching a loop device needs root";
  std::string image = MakeImage();
  int sector_size = GetParam();
  LoopDevice loop(image, sector_size == 512 ? std::vector<std::string>{}
                                            : std::vector<std::string>{
                                                  "--sector-size", std::to_string(sector_size)});
  if (loop.path().empty())
    GTEST_SKIP() << "losetup could not attach a loop device here";
  const std::string& dev = loop.path();

  SetDrivePaths({dev});
  ClassifyDrives();
  std::vector<std::string> expected{dev + " : DFP_GET_VERSION failed (not a hard drive?)",
                                    dev + " (recorder.img) : Used WinXP drive size detection",
                                    dev + " (recorder.img) : Detected size = 131072 sectors"};
  if (sector_size != 512) {
    expected.push_back(dev + " (recorder.img) : Logical sector size is " +
                       std::to_string(sector_size) +
                       " bytes; the drive is used in 512-byte sectors all the same");
  }
  EXPECT_EQ(ui_.lines(), expected);
  const DriveInfo& d = DriveTable[0];
  EXPECT_EQ(d.model, "recorder.img");
  EXPECT_EQ(d.size_sectors, kSectors);
  EXPECT_EQ(d.is_replaytv, 1);
  EXPECT_EQ(d.patched, 1);
  EXPECT_EQ(d.p2_start, 1002u);
  EXPECT_EQ(d.unreadable, 0);
}

INSTANTIATE_TEST_SUITE_P(Probe, LoopSectorSize, ::testing::Values(512, 4096),
                         testing::NumberName{"Sector"});

}  // namespace
}  // namespace quillmar
