// quillmar-cli on the other kinds of disks: RTV4000 disks with a Photo partition, two-drive
// systems and PC disks, built by the test fixtures, with the binary run as a child process.
#include <gtest/gtest.h>

#include "tests/cli/cli_process.h"
#include "tests/support/disk_image.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

using testing::CliRun;
using testing::Contains;
using testing::ImageHash;
using testing::ReplayTvDisk;
using testing::RowEndsWith;
using testing::RunCliBinary;
using testing::TempDir;

class CliDisks : public ::testing::Test {
 protected:
  std::string First() const { return dir_.File("first.img"); }
  std::string Second() const { return dir_.File("second.img"); }

  CliRun Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--drive", First(), "--drive", Second()});
    return RunCliBinary(args, dir_.path());
  }

  static ReplayTvDisk PhotoDisk() {
    ReplayTvDisk disk;
    disk.disk_sectors = 400000;
    disk.rtv4000 = true;
    disk.photo_sectors = 20480;
    return disk;
  }

  TempDir dir_;
};

TEST_F(CliDisks, PhotoPartitionIsCopiedAndKept) {
  ASSERT_TRUE(testing::MakeReplayTvDisk(First(), PhotoDisk()));
  ASSERT_TRUE(testing::MakeBlankImage(Second(), 900000));
  CliRun list = Run({"list"});
  EXPECT_TRUE(RowEndsWith(list.out, 0, "RTV4000 Disk")) << list.out;

  ASSERT_EQ(Run({"--yes", "mirror", "0", "1"}).status, 0);
  CliRun photo = Run({"--yes", "copy-photo", "0", "1"});
  ASSERT_EQ(photo.status, 0) << photo.out << photo.err;
  // Without an answer for the Photo partition nothing is written.
  uint64_t before = ImageHash(Second());
  CliRun unanswered = Run({"--yes", "patch", "1", "--mpeg", "keep"});
  EXPECT_EQ(unanswered.status, 1);
  EXPECT_TRUE(Contains(unanswered.err, "(give --format-photo yes|no)")) << unanswered.err;
  EXPECT_EQ(ImageHash(Second()), before);

  CliRun patch = Run({"--yes", "patch", "1", "--mpeg", "keep", "--format-photo", "no"});
  ASSERT_EQ(patch.status, 0) << patch.out << patch.err;
  EXPECT_TRUE(Contains(patch.err, "[Reformat photo partition] ** Do you want to reformat"))
      << patch.err;
  EXPECT_TRUE(Contains(patch.err, "  -> No (--format-photo no)")) << patch.err;
  EXPECT_TRUE(Contains(patch.err, "  Photo partition size will be 20480 blocks (10MB)"))
      << patch.err;

  list = Run({"list"});
  EXPECT_TRUE(RowEndsWith(list.out, 1, "RTV4000 Disk")) << list.out;
  CliRun inspect = Run({"inspect", "1"});
  EXPECT_EQ(inspect.status, 0) << inspect.out;
}

TEST_F(CliDisks, NewPhotoPartitionOfTheChosenSize) {
  ASSERT_TRUE(testing::MakeReplayTvDisk(First(), PhotoDisk()));
  ASSERT_TRUE(testing::MakeBlankImage(Second(), 900000));
  ASSERT_EQ(Run({"--yes", "mirror", "0", "1"}).status, 0);
  CliRun patch = Run(
      {"patch", "1", "--yes", "--mpeg", "reformat", "--format-photo", "yes", "--photo", "50MB"});
  ASSERT_EQ(patch.status, 0) << patch.out << patch.err;
  EXPECT_TRUE(Contains(patch.err, "  Photo partition size will be 102400 blocks (50MB)"))
      << patch.err;
  EXPECT_EQ(Run({"inspect", "1"}).status, 0);
}

TEST_F(CliDisks, CopyPhotoNeedsAnRtv4000Source) {
  ReplayTvDisk disk;
  disk.disk_sectors = 400000;
  ASSERT_TRUE(testing::MakeReplayTvDisk(First(), disk));
  ASSERT_TRUE(testing::MakeBlankImage(Second(), 900000));
  uint64_t before = ImageHash(Second());
  CliRun run = Run({"--yes", "copy-photo", "0", "1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(run.err, "drive 0 is not in RTV4000 byte order")) << run.err;
  EXPECT_EQ(ImageHash(Second()), before);
}

TEST_F(CliDisks, JoinMakesATwoDriveSystemThatInspectsAsAPair) {
  ASSERT_TRUE(testing::MakeReplayTvDisk(First(), PhotoDisk()));
  ASSERT_TRUE(testing::MakeBlankImage(Second(), 600000));
  CliRun join = Run({"join", "0", "1", "--mpeg", "keep", "--format-photo", "yes", "--yes"});
  ASSERT_EQ(join.status, 0) << join.out << join.err;
  EXPECT_TRUE(Contains(join.err, "***** ADDING SECOND DRIVE               *****\n")) << join.err;
  CliRun list = Run({"list"});
  EXPECT_TRUE(RowEndsWith(list.out, 0, "RTV4000 Disk 1 of 2")) << list.out;
  EXPECT_TRUE(RowEndsWith(list.out, 1, "RTV4000 Disk 2 of 2")) << list.out;
  // The Photo partition of the pair lies on drive 2: inspect finds the listed second drive.
  CliRun inspect = Run({"inspect", "0"});
  EXPECT_EQ(inspect.status, 0) << inspect.out;
  EXPECT_TRUE(Contains(inspect.out, "partition 3 on drive 2 (" + Second() + ")")) << inspect.out;
}

TEST_F(CliDisks, APcDiskIsTakenOnlyAfterTheWarning) {
  ReplayTvDisk disk;
  disk.disk_sectors = 400000;
  ASSERT_TRUE(testing::MakeReplayTvDisk(First(), disk));
  ASSERT_TRUE(testing::MakePcDisk(Second(), 900000, testing::PcDisk::kLinux));
  CliRun list = Run({"list"});
  EXPECT_TRUE(RowEndsWith(list.out, 1, "May be PC Disk")) << list.out;

  uint64_t before = ImageHash(Second());
  CliRun refused = Run({"mirror", "0", "1"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(Contains(refused.err,
                       "[Warning] *** WARNING: Drive 1 contains non-ReplayTV partition "
                       "information\n"))
      << refused.err;
  EXPECT_FALSE(Contains(refused.err, "[Proceed?]")) << refused.err;
  EXPECT_EQ(ImageHash(Second()), before);

  CliRun taken = Run({"--yes", "mirror", "0", "1"});
  EXPECT_EQ(taken.status, 0) << taken.err;
  EXPECT_TRUE(Contains(taken.err, "[Proceed?] Target disk appears to be a System Disk!!!"))
      << taken.err;
}

}  // namespace
}  // namespace quillmar
