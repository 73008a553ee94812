// Joining two drives: the second drive's cleared partition table, both volume sequence blocks in
// drive 1's byte order, partition 2 over both drives, the Photo partition on drive 2.
#include <gtest/gtest.h>
#include <unistd.h>

#include "base/byte_order.h"
#include "base/log.h"
#include "base/settings.h"
#include "format/fs_blocks.h"
#include "format/fs_checks.h"
#include "format/partition_block.h"
#include "format/volume_sequence.h"
#include "ops/inspector.h"
#include "ops/operations.h"
#include "tests/ops/ops_test_env.h"

namespace quillmar {
namespace {

using testing::MakeBlankImage;
using testing::MakeReplayTvDisk;
using testing::ReadSectors;
using testing::ReplayTvDisk;

class TwoDriveTest : public testing::OpsTest, public ::testing::WithParamInterface<bool> {
 protected:
  bool rtv4000() const { return GetParam(); }
  void MakeDrives(uint64_t first_sectors, uint64_t second_sectors, uint32_t photo) {
    ReplayTvDisk disk;
    disk.disk_sectors = first_sectors;
    disk.layout_sectors = 1000000;
    disk.p1_length = 40000;
    disk.rtv4000 = rtv4000();
    disk.photo_sectors = photo;
    ASSERT_TRUE(MakeReplayTvDisk(Image("one.img"), disk));
    ASSERT_TRUE(MakeBlankImage(Image("two.img"), second_sectors));
    UseDrives({Image("one.img"), Image("two.img")});
  }
};

TEST_P(TwoDriveTest, JoinsBothDrivesIntoOneSpace) {
  MakeDrives(160086528, 300000000, rtv4000() ? 20480 : 0);
  // Confirmation; keep MPEG; (RTV4000) reformat the Photo partition as 100MB.
  ui().AnswerAll({true, false});
  if (rtv4000())
    ui().Answer(true);
  ASSERT_EQ(AddSecondDrive(0, 1, 204800), 0) << ui().Transcript();
  EXPECT_EQ(ui().unanswered(), 0u);

  uint32_t s1 = 160086528;
  uint32_t s2 = rtv4000() ? 300000000 : 267386880;
  EXPECT_EQ(ui().LoggedContaining("Limiting drive 1"), false);
  EXPECT_EQ(ui().Logged("***** Limiting drive 2 (" + Image("two.img") +
                        ") to 137GB (actual size is 153GB)"),
            !rtv4000());

  Sector vs1 = testing::ReadSector(Image("one.img"), 1, rtv4000());
  Sector vs2 = testing::ReadSector(Image("two.img"), 1, rtv4000());
  EXPECT_EQ(vs1, BuildVolumeSequenceBlock(0, s1, s2));
  EXPECT_EQ(vs2, BuildVolumeSequenceBlock(1, s1, s2));
  EXPECT_EQ(GetBe64(vs1, 40), 81964302336u);
  EXPECT_EQ(GetBe64(vs2, 24), 81964302336u);
  EXPECT_EQ(GetBe64(vs2, 32), 1024u);
  EXPECT_EQ(GetBe64(vs2, 40), uint64_t{s2} * 512);
  std::vector<uint8_t> raw_magic = ReadSectors(Image("two.img"), 1, 1);
  raw_magic.resize(4);
  std::vector<uint8_t> expected_magic = {0xD6, 0x9E, 0xF5, 0xA0};
  if (rtv4000())
    expected_magic = {0xA0, 0xF5, 0x9E, 0xD6};
  EXPECT_EQ(raw_magic, expected_magic);
  EXPECT_EQ(testing::ReadSector(Image("two.img"), 0, rtv4000()), EmptyPartitionBlock());

  uint32_t photo = rtv4000() ? 204800 : 0;
  Sector table = testing::ReadSector(Image("one.img"), 0, rtv4000());
  PartitionEntry p2 = ReadPartitionEntry(table, 2);
  EXPECT_EQ(p2.start, 40002u);
  EXPECT_EQ(p2.length, s1 + s2 - 40000u - 4u - photo);
  PartitionEntry p3 = ReadPartitionEntry(table, 3);
  if (rtv4000()) {
    EXPECT_EQ(p3.start, s1 + s2 - 2 - photo);
    EXPECT_EQ(p3.length, photo);
  } else {
    EXPECT_EQ(p3.length, 0u);
  }

  InspectionReport report = InspectDrive(Image("one.img"), Image("two.img"));
  EXPECT_TRUE(report.verified) << RenderInspection(report);
  EXPECT_EQ(report.mpeg.cluster_count, uint64_t{p2.length} / 512);
  if (rtv4000()) {
    EXPECT_EQ(report.photo.device_path, Image("two.img"));
    EXPECT_EQ(report.photo.start_sector, uint64_t{s2} - photo);
    EXPECT_EQ(report.photo.blocks.size(), 4u);
  }
  EXPECT_TRUE(InspectDrive(Image("two.img")).verified);

  Refresh();
  EXPECT_EQ(Drive(0).dual_position, 1);
  EXPECT_EQ(Drive(1).dual_position, 2);
  EXPECT_TRUE(Drive(0).is_replaytv);
  EXPECT_EQ(Drive(1).rtv4000, rtv4000());
}

// Only RTV4000 disks keep a Photo partition.
class TwoDrivePhotoTest : public TwoDriveTest {};

TEST_P(TwoDrivePhotoTest, PhotoPartitionLargerThanDriveTwoIsRefusedBeforeWriting) {
  MakeDrives(2000000, 100000, 409600);
  Snapshot();
  ui().AnswerAll({true, false, true});  // confirm, keep, format the Photo partition as asked
  EXPECT_EQ(AddSecondDrive(0, 1, 204800), -1);
  EXPECT_TRUE(Unchanged());
  EXPECT_NE(LastBox().text.find("(204800 blocks) does not fit on drive 2"), std::string::npos)
      << "the size asked for: " << LastBox().text;
}

// A Photo entry of length 0 that is not formatted moves to the end of the joined space.
TEST_P(TwoDrivePhotoTest, PhotoEntryOfLengthZeroIsKept) {
  MakeDrives(2000000, 1000000, 0);
  Sector sector0 = testing::ReadSector(Image("one.img"), 0, true);
  WritePartitionEntry(sector0, 3, {kRecorderPartitionType, 1000000, 0});
  Rtv4000Byteswap(sector0);
  ASSERT_TRUE(testing::WriteBytes(Image("one.img"), 0, sector0));
  ui().AnswerAll({true, false, false});
  ASSERT_EQ(AddSecondDrive(0, 1, 0), 0) << ui().Transcript();
  PartitionEntry p3 = ReadPartitionEntry(testing::ReadSector(Image("one.img"), 0, true), 3);
  EXPECT_EQ(p3.start, 2000000u + 1000000u - 2u);
  EXPECT_EQ(p3.length, 0u);
}

// What the patch would find wrong on drive 1 is refused before either drive is written: the MPEG
// file system's blocks beyond drive 1 (a reformat of a drive 1 with only 1,998 sectors of
// partition 2), or a cluster size that is not real (keep).
TEST_P(TwoDriveTest, PatchRefusalsComeBeforeEitherDriveIsWritten) {
  for (bool reformat : {true, false}) {
    SCOPED_TRACE(reformat);
    ReplayTvDisk disk;
    disk.disk_sectors = reformat ? 42000 : 2000000;
    disk.p1_length = 40000;
    disk.rtv4000 = rtv4000();
    disk.mpeg_cluster_size = reformat ? 0 : 262144;
    ASSERT_TRUE(MakeReplayTvDisk(Image("one.img"), disk));
    if (!reformat) {
      FsBlock system = testing::ReadFsBlock(Image("one.img"), 40002 * 512, rtv4000());
      PutBe32(system, kSystemClusterSize, 513);
      if (rtv4000())
        Rtv4000Byteswap(system);
      ASSERT_TRUE(testing::WriteBytes(Image("one.img"), 40002 * 512, system));
    }
    ASSERT_TRUE(MakeBlankImage(Image("two.img"), 1000000));
    UseDrives({Image("one.img"), Image("two.img")});
    Snapshot();
    ui().AnswerAll({true, reformat});  // confirm; reset (and reformat) or keep
    if (reformat)
      ui().Answer(true);
    EXPECT_EQ(AddSecondDrive(0, 1, 0), -1);
    EXPECT_TRUE(Unchanged());
    EXPECT_NE(LastBox().text.find(reformat ? "beyond the end of the disk" : kInvalidClusterSize),
              std::string::npos)
        << LastBox().text;
    EXPECT_NE(LastBox().text.find("Disk: " + Image("one.img")), std::string::npos);
  }
}

// Drive 2 cut since it was listed would get partition 2 past its end: refused before either
// drive is written.
TEST_P(TwoDriveTest, DriveTwoSmallerThanListedIsRefusedBeforeEitherIsWritten) {
  MakeDrives(2000000, 1000000, 0);
  ASSERT_EQ(::truncate(Image("two.img").c_str(), off_t{500000} * 512), 0);
  Snapshot();
  ui().AnswerAll({true, false});
  EXPECT_EQ(AddSecondDrive(0, 1, 0), -1);
  EXPECT_TRUE(Unchanged());
  EXPECT_EQ(LastBox().text.rfind("*** ERROR: The drive is smaller than the new layout", 0), 0u)
      << LastBox().text;
  EXPECT_NE(LastBox().text.find("Disk: " + Image("two.img")), std::string::npos);
}

TEST_P(TwoDriveTest, DeclinedConfirmationLeavesOnlyTheBanner) {
  MakeDrives(2000000, 1000000, 0);
  Snapshot();
  ui().AnswerAll({false});
  EXPECT_EQ(AddSecondDrive(0, 1, 0), -1);
  EXPECT_TRUE(Unchanged());
  EXPECT_TRUE(ui().Logged("***** ADDING SECOND DRIVE               *****"));
  EXPECT_EQ(ui().questions().back().text,
            testing::Confirmation(Format("This will attempt to create a 2 drive system\nwhere %s "
                                         "(one.img, 1GB) is the first drive\nand %s (two.img, "
                                         "0GB) is the second drive.",
                                         Image("one.img").c_str(), Image("two.img").c_str())));
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, TwoDriveTest, ::testing::Values(false, true),
                         testing::ByteOrderNames());
INSTANTIATE_TEST_SUITE_P(ByteOrders, TwoDrivePhotoTest, ::testing::Values(true),
                         testing::ByteOrderNames());

}  // namespace
}  // namespace quillmar
