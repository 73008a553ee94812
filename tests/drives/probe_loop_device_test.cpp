// The probe and the classification on a real block device: a sparse image file attached as a
// loop device, measured through BLKGETSIZE64. Needs root and a working losetup; skipped
// otherwise. Every test detaches exactly the device it attached, also when it fails.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "disk/drive_map.h"
#include "disk/drive_probe.h"
#include "drives/classify.h"
#include "format/partition_block.h"
#include "tests/support/loop_device.h"
#include "tests/support/param_names.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

using testing::LoopDevice;

constexpr uint64_t kSectors = 131072;  // 64 MiB

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
  LoopDevice loop(image, "--sector-size " + std::to_string(sector_size));
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
                       " bytes; the drive can be read, but nothing will be written to it");
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
