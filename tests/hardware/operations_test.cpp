// Operations on real kernel disks: the whole single-disk upgrade between two AHCI disks, a join
// with drive 2 on USB, and a target refused because one of its partitions is mounted. One boot
// runs them all; the images are checked on the host afterwards.
#include <gtest/gtest.h>

#include "base/byte_order.h"
#include "format/partition_block.h"
#include "format/volume_sequence.h"
#include "ops/inspector.h"
#include "tests/hardware/guest.h"
#include "tests/support/disk_image.h"
#include "tests/support/temp_dir.h"

namespace quillmar::testing {
namespace {

constexpr uint64_t kOldSectors = 200000;
constexpr uint64_t kNewSectors = 400000;
constexpr uint32_t kJoinFirst = 300000;
constexpr uint32_t kJoinSecond = 200000;
constexpr uint64_t kPcSectors = 16384;
constexpr uint64_t kPcPartitionStart = 2048;

ReplayTvDisk OldDisk() {
  ReplayTvDisk disk;
  disk.disk_sectors = kOldSectors;
  disk.p1_length = 4000;
  disk.recordings = {{30000, 2048}, {199000, 1000}};
  disk.stale_pair_block = true;
  return disk;
}

// A PC disk whose first partition holds a FAT file system the guest can mount.
::testing::AssertionResult MakeMountableDisk(const TempDir& dir, const std::string& path) {
  ::testing::AssertionResult made = MakePcDisk(path, kPcSectors, PcDisk::kLinux);
  if (!made)
    return made;
  std::string fat = dir.File("fat.img");
  uint64_t bytes = (kPcSectors - kPcPartitionStart) * 512;
  std::string command = "truncate -s " + std::to_string(bytes) + " " + fat +
                        " && busybox mkdosfs " + fat + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0)
    return ::testing::AssertionFailure() << "busybox mkdosfs failed";
  return WriteSectors(path, kPcPartitionStart, ReadBytes(fat, 0, bytes));
}

class OperationsOnKernelDisks : public GuestSuite<OperationsOnKernelDisks> {
 protected:
  static void SetUpTestSuite() {
    if (!GuestCanBoot())
      return;
    ASSERT_TRUE(MakeReplayTvDisk(Image("old"), OldDisk()));
    ASSERT_TRUE(MakeBlankImage(Image("new"), kNewSectors));
    ReplayTvDisk first;
    first.disk_sectors = kJoinFirst;
    first.layout_sectors = 250000;
    ASSERT_TRUE(MakeReplayTvDisk(Image("one"), first));
    ASSERT_TRUE(MakeBlankImage(Image("two"), kJoinSecond));
    ASSERT_TRUE(MakeMountableDisk(*dir_, Image("mounted")));
    ASSERT_TRUE(CopyImage(Image("mounted"), dir_->File("mounted.before")));
    Boot(
        {{Bus::kAhci, Image("old"), "QMOLD", "OLD RECORDER DISK"},
         {Bus::kAhci, Image("new"), "QMNEW", "NEW LARGER DISK"},
         {Bus::kAhci, Image("one"), "QMONE", "JOIN DRIVE ONE"},
         {Bus::kUsb, Image("two"), "QMTWO", ""},
         {Bus::kAhci, Image("mounted"), "QMMNT", "MOUNTED PC DISK"}},
        "run mount mount -o ro -t vfat $(disk QMMNT)1 /mnt\n"
        "run mounted quillmar-cli --yes --drive $(disk QMOLD) --drive $(disk QMMNT) mirror 0 1\n"
        "set -- --yes --drive $(disk QMOLD) --drive $(disk QMNEW)\n"
        "run mirror quillmar-cli \"$@\" mirror 0 1\n"
        "run copy_mpeg quillmar-cli \"$@\" copy-mpeg 0 1\n"
        "run patch quillmar-cli \"$@\" patch 1 --mpeg keep\n"
        "run join quillmar-cli --yes --drive $(disk QMONE) --drive $(disk QMTWO) join 0 1 "
        "--mpeg keep\n");
  }
  static std::string Image(const std::string& name) { return dir_->File(name + ".img"); }
  static void ExpectDone(const std::string& section) {
    EXPECT_EQ(run_->Section(section).status, 0) << section << ":\n"
                                                << run_->Section(section).output;
  }
};

TEST_F(OperationsOnKernelDisks, UpgradeMovesTheRecorderDiskToTheLargerDisk) {
  for (const char* step : {"mirror", "copy_mpeg", "patch"})
    ExpectDone(step);
  Sector sector0 = ReadSector(Image("new"), 0, false);
  PartitionEntry p2 = ReadPartitionEntry(sector0, 2);
  EXPECT_EQ(p2.start, 4002u);
  EXPECT_EQ(p2.length, kNewSectors - 4002u);
  EXPECT_EQ(GetBe32(ReadSectors(Image("new"), 1, 1), 0), 0u) << "the stale pair block is cleared";
  InspectionReport report = InspectDrive(Image("new"));
  EXPECT_TRUE(report.verified) << RenderInspection(report);
  EXPECT_EQ(report.mpeg.cluster_count, (kNewSectors - 4002u) / 512u);
  EXPECT_TRUE(HasPattern(Image("new"), 2, 4000, Pattern::kSystem, 2));
  for (const SectorRun& run : OldDisk().recordings)
    EXPECT_TRUE(HasPattern(Image("new"), run.first, run.count, Pattern::kRecording, run.first));
}

TEST_F(OperationsOnKernelDisks, JoinSpansTheUsbSecondDrive) {
  ExpectDone("join");
  EXPECT_EQ(ReadSector(Image("one"), 1, false),
            BuildVolumeSequenceBlock(0, kJoinFirst, kJoinSecond));
  EXPECT_EQ(ReadSector(Image("two"), 1, false),
            BuildVolumeSequenceBlock(1, kJoinFirst, kJoinSecond));
  PartitionEntry p2 = ReadPartitionEntry(ReadSector(Image("one"), 0, false), 2);
  EXPECT_EQ(p2.length, kJoinFirst + kJoinSecond - 4000u - 4u);
  InspectionReport report = InspectDrive(Image("one"), Image("two"));
  EXPECT_TRUE(report.verified) << RenderInspection(report);
}

// The kernel holds a disk with a mounted partition; the exclusive open for writing fails.
TEST_F(OperationsOnKernelDisks, TargetWithAMountedPartitionIsRefused) {
  ExpectDone("mount");
  const GuestSection& mirror = run_->Section("mounted");
  EXPECT_EQ(mirror.status, 1) << mirror.output;
  EXPECT_NE(mirror.output.find("Could not open device " + run_->device_of_serial["QMMNT"]),
            std::string::npos)
      << mirror.output;
  EXPECT_TRUE(ImagesEqual(dir_->File("mounted.before"), Image("mounted")));
}

}  // namespace
}  // namespace quillmar::testing

namespace quillmar::testing {
namespace {

// A recorder can only use 512-byte sectors: a 4096-byte-sector disk is refused as a target.
TEST(Sector4096OnKernelDisk, MirrorOntoItIsRefused) {
  QUILLMAR_REQUIRE_GUEST();
  TempDir dir;
  ReplayTvDisk old_disk;
  old_disk.disk_sectors = 20000;
  ASSERT_TRUE(MakeReplayTvDisk(dir.File("old.img"), old_disk));
  ASSERT_TRUE(MakeBlankImage(dir.File("4k.img"), 65536));
  ASSERT_TRUE(CopyImage(dir.File("4k.img"), dir.File("4k.before")));
  GuestRun run = BootGuest(
      {{Bus::kAhci, dir.File("old.img"), "QMOLD", "OLD RECORDER DISK"},
       {Bus::kScsi4096, dir.File("4k.img"), "QM4K", "4K SECTOR DISK"}},
      "run mirror quillmar-cli --yes --drive $(disk QMOLD) --drive $(disk QM4K) mirror 0 1\n",
      dir.path());
  const GuestSection& mirror = run.Section("mirror");
  EXPECT_EQ(mirror.status, 1) << run.console;
  EXPECT_NE(mirror.output.find("4096-byte sectors"), std::string::npos) << mirror.output;
  EXPECT_TRUE(ImagesEqual(dir.File("4k.before"), dir.File("4k.img")));
}

}  // namespace
}  // namespace quillmar::testing
