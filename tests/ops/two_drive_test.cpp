// Joining two drives: the second drive's cleared partition table, both volume sequence blocks in
// drive 1's byte order, partition 2 over both drives, the Photo partition on drive 2.
#include <gtest/gtest.h>

#include "base/log.h"
#include "base/settings.h"
#include "base/byte_order.h"
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
  MakeDrives(2000000, 100000, 20480);
  Snapshot();
  ui().AnswerAll({true});
  EXPECT_EQ(AddSecondDrive(0, 1, 204800), -1);
  EXPECT_TRUE(Unchanged());
  EXPECT_NE(LastBox().text.find("does not fit on drive 2"), std::string::npos) << LastBox().text;
  EXPECT_FALSE(ui().LoggedContaining("Clearing partition table"));
}

// The MPEG file system's blocks are written through drive 1: a cluster-size override whose
// reformat would place them beyond drive 1 is refused before drive 2 is touched.
TEST_P(TwoDriveTest, ReformatBeyondDriveOneIsRefusedBeforeWriting) {
  ReplayTvDisk disk;
  disk.disk_sectors = 45000;  // 4,998 sectors of partition 2 on drive 1
  disk.p1_length = 40000;
  disk.rtv4000 = rtv4000();
  ASSERT_TRUE(MakeReplayTvDisk(Image("one.img"), disk));
  ASSERT_TRUE(MakeBlankImage(Image("two.img"), 1000000));
  UseDrives({Image("one.img"), Image("two.img")});
  g_mpegClusterOverride = 1000000;  // four clusters of 999,936 bytes: 7,813 sectors
  Snapshot();
  ui().AnswerAll({true});
  EXPECT_EQ(AddSecondDrive(0, 1, 0), -1);
  EXPECT_TRUE(Unchanged());
  EXPECT_NE(LastBox().text.find("on drive 1, too few for its file"), std::string::npos)
      << LastBox().text;
  EXPECT_NE(LastBox().text.find("Disk 1 of 2: " + Image("one.img") +
                                "\n           Disk 2 of 2: " + Image("two.img")),
            std::string::npos)
      << LastBox().text;
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
