// What the drive list says of each kind of disk; a drive is logged once per run, read every pass.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <list>
#include <string>
#include <tuple>
#include <vector>

#include "drives/classify.h"
#include "drives/drive_status.h"
#include "format/partition_block.h"
#include "tests/support/disk_aliases.h"
#include "tests/support/disk_image.h"
#include "tests/support/fake_device.h"
#include "tests/support/probe_fake_platform.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

using Drives = testing::ProbeTestBase;

constexpr const char* kNeedsPatch = "ReplayTV Disk, NEEDS TO BE PATCHED";

enum Kind { kBlank, kPair, kPc, kForeign, kRecorder, kLoop, kSecondName, kWrapped };

struct KindRow {
  const char* name;
  Kind kind;
  std::vector<std::string> status;  // of each drive; "Empty": left out of the list
  uint64_t sectors = 100000;
  bool rtv4000 = false;
  uint64_t layout = 0;  // sectors the partitions describe; 0: the whole disk
  uint32_t photo = 0;
  uint32_t forced = 0;  // the largest drive the settings allow
};

const KindRow kKinds[] = {
    {"Blank", kBlank, {"NOT a ReplayTV Disk"}},
    {"Recorder", kRecorder, {"ReplayTV Disk"}},
    {"Rtv4000", kRecorder, {"RTV4000 Disk"}, 100000, true, 0, 4096},
    {"OldLayoutOnBiggerDisk", kRecorder, {kNeedsPatch}, 100000, false, 80000},
    {"LengthsAddingUpPast2To32", kWrapped, {kNeedsPatch}, 100000, false, 80000},
    {"PatchedTo137Gb", kRecorder, {"ReplayTV Disk"}, 300000000, false, 267386880},
    {"Past137GbUnpatched", kRecorder, {kNeedsPatch}, 300000000},
    {"Rtv4000Past137Gb", kRecorder, {"RTV4000 Disk"}, 300000000, true},
    {"ForcedTo2Gb", kRecorder, {"ReplayTV Disk"}, 5859375, false, 3906250, 0, 3906250},
    {"Pair", kPair, {"ReplayTV Disk 1 of 2", "ReplayTV Disk 2 of 2"}},
    {"Rtv4000Pair", kPair, {"RTV4000 Disk 1 of 2", "RTV4000 Disk 2 of 2"}, 100000, true},
    {"PcMbr", kPc, {"May be PC Disk"}},
    {"ForeignSecondPartition", kForeign, {"NOT a ReplayTV Disk"}},
    // A loop device over an image, then the image: one disk, listed once.
    {"LoopDeviceThenItsImage", kLoop, {"ReplayTV Disk", "Empty"}, 131072},
    {"SymbolicLinkToAListedImage", kSecondName, {"ReplayTV Disk", "Empty"}},
};

class DiskKinds : public Drives, public ::testing::WithParamInterface<KindRow> {};

TEST_P(DiskKinds, ListedWithTheirStatus) {
  const KindRow& row = GetParam();
  std::vector<std::string> paths = {dir_.File("d0.img"), dir_.File("d1.img")};
  paths.resize(row.status.size());
  const testing::ReplayTvDisk disk =
      testing::Recorder(row.sectors, row.rtv4000, row.layout, row.photo);
  Sector s0 = EmptyPartitionBlock();
  std::list<testing::LoopDevice> loop;
  switch (row.kind) {
    case kBlank:
      ASSERT_TRUE(testing::MakeBlankImage(paths[0], row.sectors));
      break;
    case kPair:
      ASSERT_TRUE(testing::MakeReplayTvPair(paths[0], paths[1], disk, 200000));
      break;
    case kPc:
      ASSERT_TRUE(testing::MakePcDisk(paths[0], 100000, testing::PcDisk::kNtfs));
      break;
    case kForeign:
      WritePartitionEntry(s0, 1, {kRecorderPartitionType, 2, 1000});
      WritePartitionEntry(s0, 2, {0x07, 1002, 3094});
      ASSERT_TRUE(testing::MakeBlankImage(paths[0], 4096));
      ASSERT_TRUE(testing::WriteSectors(paths[0], 0, s0));
      break;
    case kWrapped:  // unused entries 3 and 4 whose lengths add up to 2^32 + what the disk lacks
      ASSERT_TRUE(testing::MakeReplayTvDisk(paths[0], disk));
      std::copy_n(testing::ReadSectors(paths[0], 0, 1).begin(), kBlockSize, s0.begin());
      WritePartitionEntry(s0, 3, {0, 0, 0x80000000u});
      WritePartitionEntry(s0, 4, {0, 0, 0x80000000u + 20000});
      ASSERT_TRUE(testing::WriteSectors(paths[0], 0, s0));
      break;
    case kRecorder:
    case kLoop:
    case kSecondName:
      ASSERT_TRUE(testing::MakeReplayTvDisk(paths[0], disk));
      if (row.kind == kSecondName) {
        ASSERT_EQ(::symlink(paths[0].c_str(), paths[1].c_str()), 0);
      }
      if (row.kind == kLoop) {  // the loop device listed first, then the image behind it
        if (::geteuid() != 0)
          GTEST_SKIP() << "attaching a loop device needs root";
        paths[1] = paths[0];
        paths[0] = loop.emplace_back(paths[1]).path();
        if (paths[0].empty())
          GTEST_SKIP() << "losetup could not attach a loop device here";
      }
      break;
  }
  g_maxDriveSectors = row.forced != 0 ? row.forced : g_maxDriveSectors;
  SetDrivePaths(paths);
  ClassifyDrives();
  for (size_t i = 0; i < paths.size(); ++i) {
    const DriveInfo& d = DriveTable[i];
    EXPECT_EQ(d.size_sectors == 0 ? "Empty" : DriveListStatus(d).text, row.status[i]) << i;
  }
  EXPECT_EQ(ui_.LoggedContaining("is the same disk as"), row.status.back() == "Empty");
  if (row.kind == kRecorder || row.kind == kLoop || row.kind == kSecondName) {
    testing::ReplayTvGeometry g = testing::Geometry(disk);
    const DriveInfo& d = DriveTable[0];
    EXPECT_EQ(std::tuple(d.p1_length + 2, d.p2_start, d.p2_length, d.p3_start, d.p3_length),
              std::tuple(g.p2_start, g.p2_start, g.p2_length, g.p3_start, g.p3_length));
  }
}

INSTANTIATE_TEST_SUITE_P(Classify, DiskKinds, ::testing::ValuesIn(kKinds), testing::ParamName{});

// A disk rewritten since the list was made is not the listed drive, nor is another put in its
// place with the same length and first sectors: a file moved over it, a loop device set up again.
TEST_F(Drives, ADiskRewrittenOrReplacedSinceTheListIsNotTheListedDrive) {
  const std::string path = dir_.File("d0.img");
  ASSERT_TRUE(testing::MakeBlankImage(path, 100000));
  SetDrivePaths({path});
  ClassifyDrives();
  EXPECT_EQ(FirstDriveChangedSinceListed(), -1);
  ASSERT_TRUE(testing::MakeReplayTvDisk(path, testing::Recorder(100000)));
  EXPECT_EQ(FirstDriveChangedSinceListed(), 0);
  std::filesystem::copy_file(path, dir_.File("copy.img"));
  std::filesystem::rename(dir_.File("copy.img"), path);
  EXPECT_EQ(FirstDriveChangedSinceListed(), 0);
  EXPECT_EQ(FirstDriveChangedSinceListed(), -1);
  testing::LoopDevice loop(path);
  if (loop.path().empty())
    GTEST_SKIP() << "attaching a loop device needs root";
  ResetDriveTable();
  SetDrivePaths({loop.path()});
  ClassifyDrives();
  ASSERT_TRUE(testing::ShellOutput("losetup -d " + loop.path() + " && losetup " + loop.path() +
                                   " '" + path + "'"));
  EXPECT_EQ(FirstDriveChangedSinceListed(), 0);
}

// A drive that cannot be opened or read is logged in the first pass only; every pass reads the
// drives again, except one found unreadable, which stays skipped for the run.
TEST_F(Drives, LoggedOnceAndReadAgainEveryPass) {
  std::vector<std::string> p = {dir_.File("d0.img"), dir_.File("d1.img"), dir_.File("d2.img")};
  const testing::ReplayTvDisk disk{.disk_sectors = 20000};
  ASSERT_TRUE(testing::MakeReplayTvDisk(p[0], disk));  // refused at first
  ASSERT_TRUE(testing::MakeBlankImage(p[1], 1));       // too short to read
  ASSERT_TRUE(testing::MakeReplayTvDisk(p[2], disk));
  testing::FakeDeviceIo io;
  testing::FakeDevice& refused = io.Add(p[0], 0);
  refused.bytes() = testing::ReadBytes(p[0], 0, 1024);
  refused.VanishAfter(0, EACCES);
  SetDrivePaths(p);
  ClassifyDrives();
  EXPECT_TRUE(ui_.Logged(p[0] + " (d0.img) : Unable to open (may be a CD-ROM drive)"));
  EXPECT_TRUE(ui_.Logged(p[0] + " : Could not open image file: Permission denied"));
  EXPECT_TRUE(ui_.Logged(p[1] + " (d1.img) : Unable to read partition table"));
  EXPECT_EQ(DriveTable[0].size_sectors, 0u);
  EXPECT_EQ(DriveTable[1].unreadable, 1);
  EXPECT_EQ(DriveListStatus(DriveTable[2]).text, "ReplayTV Disk");

  // Drive 1 becomes readable, and drive 2 loses its last 8 sectors from partition 2.
  ASSERT_TRUE(testing::CopyImage(p[2], p[1]));
  Sector s0 = testing::ReadSector(p[2], 0, false);
  WritePartitionEntry(s0, 2, {kRecorderPartitionType, 4002, 20000 - 4002 - 8});
  ASSERT_TRUE(testing::WriteSectors(p[2], 0, s0));
  size_t lines = ui_.lines().size();
  ClassifyDrives();
  EXPECT_EQ(DriveTable[0].size_sectors, 0u);
  refused.VanishAfter(-1);
  ClassifyDrives();
  EXPECT_EQ(ui_.lines().size(), lines) << ui_.Transcript();
  EXPECT_EQ(DriveListStatus(DriveTable[0]).text, "ReplayTV Disk");
  EXPECT_EQ(DriveTable[1].is_replaytv, 0);
  EXPECT_EQ(DriveListStatus(DriveTable[2]).text, kNeedsPatch);
}

}  // namespace
}  // namespace quillmar
