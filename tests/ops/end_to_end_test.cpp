// The whole upgrade of a recorder disk on image files: mirror the system area, copy the MPEG and
// Photo partitions, patch; checked by reading the new disk back.
#include <gtest/gtest.h>

#include "base/byte_order.h"
#include "format/fs_blocks.h"
#include "format/partition_block.h"
#include "ops/inspector.h"
#include "ops/operations.h"
#include "tests/ops/ops_test_env.h"

namespace quillmar {
namespace {

using testing::Geometry;
using testing::HasPattern;
using testing::MakeBlankImage;
using testing::MakeReplayTvDisk;
using testing::Pattern;
using testing::ReadSectors;
using testing::ReplayTvDisk;

using EndToEndTest = testing::OpsTest;

TEST_F(EndToEndTest, StandardDiskMovesToALargerDiskKeepingItsRecordings) {
  ReplayTvDisk old_disk;
  old_disk.disk_sectors = 200000;
  old_disk.p1_length = 4000;
  old_disk.recordings = {{30000, 2048}, {199000, 1000}};
  old_disk.stale_pair_block = true;
  ASSERT_TRUE(MakeReplayTvDisk(Image("old.img"), old_disk));
  ASSERT_TRUE(MakeBlankImage(Image("new.img"), 400000));
  UseDrives({Image("old.img"), Image("new.img")});

  ui().AnswerAll({true});  // the confirmation
  ASSERT_EQ(MirrorSystemPartition(0, 1), 0) << ui().Transcript();
  Refresh();
  EXPECT_TRUE(Drive(1).is_replaytv);
  EXPECT_FALSE(Drive(1).patched);
  EXPECT_EQ(Drive(1).dual_position, 1) << "the stale pair block came along";

  ui().AnswerAll({true});
  ASSERT_EQ(CopyMpegPartition(0, 1), 0) << ui().Transcript();
  Refresh();

  ui().AnswerAll({true, false});  // the confirmation; keep the MPEG partition
  ASSERT_EQ(PatchSingleDrive(1, 0), 0) << ui().Transcript();
  EXPECT_EQ(ui().unanswered(), 0u);
  Refresh();

  const DriveInfo& patched = Drive(1);
  EXPECT_TRUE(patched.is_replaytv);
  EXPECT_TRUE(patched.patched);
  EXPECT_EQ(patched.dual_position, 0);
  Sector sector0 = testing::ReadSector(Image("new.img"), 0, false);
  PartitionEntry p2 = ReadPartitionEntry(sector0, 2);
  EXPECT_EQ(p2.start, 4002u);
  EXPECT_EQ(p2.length, 400000u - 4002u);
  for (int n : {3, 4}) {
    std::vector<uint8_t> entry(
        sector0.begin() + static_cast<ptrdiff_t>(PartitionEntryOffset(n)),
        sector0.begin() + static_cast<ptrdiff_t>(PartitionEntryOffset(n)) + 16);
    EXPECT_EQ(entry, std::vector<uint8_t>(16, 0)) << "entry " << n;
  }
  std::vector<uint8_t> sector1 = ReadSectors(Image("new.img"), 1, 1);
  EXPECT_EQ(GetBe32(sector1, 0), 0u) << "the volume sequence block's magic is cleared";

  InspectionReport report = InspectDrive(Image("new.img"));
  EXPECT_TRUE(report.verified) << RenderInspection(report);
  EXPECT_EQ(report.mpeg.cluster_count, (400000u - 4002u) / 512u);
  EXPECT_EQ(report.mpeg.superblock_cluster_count, (400000u - 4002u) / 512u);

  EXPECT_TRUE(HasPattern(Image("new.img"), 2, 4000, Pattern::kSystem, 2));
  EXPECT_TRUE(HasPattern(Image("new.img"), 30000, 2048, Pattern::kRecording, 30000));
  EXPECT_TRUE(HasPattern(Image("new.img"), 199000, 1000, Pattern::kRecording, 199000));
}

TEST_F(EndToEndTest, LargeStandardTargetIsLimitedTo137Gb) {
  ReplayTvDisk old_disk;
  old_disk.disk_sectors = 160086528;
  old_disk.p1_length = 40000;
  ASSERT_TRUE(MakeReplayTvDisk(Image("old.img"), old_disk));
  ASSERT_TRUE(MakeBlankImage(Image("new.img"), 300000000));
  UseDrives({Image("old.img"), Image("new.img")});

  ui().AnswerAll({true});
  ASSERT_EQ(MirrorSystemPartition(0, 1), 0) << ui().Transcript();
  Refresh();
  ui().AnswerAll({true, false});
  ASSERT_EQ(PatchSingleDrive(1, 0), 0) << ui().Transcript();
  Refresh();

  EXPECT_TRUE(ui().Logged("***** Limiting disk (" + Image("new.img") +
                          ") to 137GB (actual size is 153GB)"));
  EXPECT_TRUE(ui().Logged("   Target disk is " + Image("new.img") + " (267386880 sectors)"));
  PartitionEntry p2 = ReadPartitionEntry(testing::ReadSector(Image("new.img"), 0, false), 2);
  EXPECT_EQ(p2.start, 40002u);
  EXPECT_EQ(p2.length, 267386880u - 40002u);
  InspectionReport report = InspectDrive(Image("new.img"));
  EXPECT_EQ(report.mpeg.cluster_count, (267386880u - 40002u) / 512u);
  // The partitions end at the 137 GB limit, inside the larger drive.
  EXPECT_TRUE(report.verified) << RenderInspection(report);
  EXPECT_TRUE(Drive(1).patched);
}

class PhotoMoveTest : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    ReplayTvDisk old_disk;
    old_disk.disk_sectors = 300000;
    old_disk.rtv4000 = true;
    old_disk.p1_length = 4000;
    old_disk.photo_sectors = 20480;
    old_disk.recordings = {{50000, 512}, {300000 - 20480 + 200, 64}};
    ASSERT_TRUE(MakeReplayTvDisk(Image("old.img"), old_disk));
    ASSERT_TRUE(MakeBlankImage(Image("new.img"), 500000));
    UseDrives({Image("old.img"), Image("new.img")});
    old_photo_start_ = Geometry(old_disk).p3_start;
  }

  void MoveEverything() {
    ui().AnswerAll({true});
    ASSERT_EQ(MirrorSystemPartition(0, 1), 0) << ui().Transcript();
    Refresh();
    ui().AnswerAll({true});
    ASSERT_EQ(CopyMpegPartition(0, 1), 0) << ui().Transcript();
    Refresh();
    ui().AnswerAll({true});
    ASSERT_EQ(CopyPhotoPartition(0, 1), 0) << ui().Transcript();
    Refresh();
  }

  uint32_t old_photo_start_ = 0;
};

TEST_F(PhotoMoveTest, PhotoPartitionEndsAtTheLastSectorWithItsData) {
  MoveEverything();
  // Confirmation; keep MPEG; do not reformat the Photo partition.
  ui().AnswerAll({true, false, false});
  ASSERT_EQ(PatchSingleDrive(1, 204800), 0) << ui().Transcript();
  Refresh();

  Sector sector0 = testing::ReadSector(Image("new.img"), 0, true);
  PartitionEntry p3 = ReadPartitionEntry(sector0, 3);
  EXPECT_EQ(p3.type, kRecorderPartitionType);
  EXPECT_EQ(p3.length, 20480u) << "the request is ignored without a reformat";
  EXPECT_EQ(p3.start, 500000u - 20480u);
  EXPECT_EQ(ReadPartitionEntry(sector0, 2).length, 500000u - 4002u - 20480u);
  EXPECT_EQ(ReadSectors(Image("new.img"), p3.start, 20480),
            ReadSectors(Image("old.img"), old_photo_start_, 20480));
  InspectionReport report = InspectDrive(Image("new.img"));
  EXPECT_TRUE(report.verified) << RenderInspection(report);
  EXPECT_TRUE(report.rtv4000);
  EXPECT_EQ(report.photo.label, "storage");
  EXPECT_TRUE(Drive(1).patched);
  EXPECT_TRUE(Drive(1).rtv4000);
}

TEST_F(PhotoMoveTest, ReformatWithANewPhotoSizeGivesAFreshFileSystem) {
  MoveEverything();
  ui().AnswerAll({true, false, false});
  ASSERT_EQ(PatchSingleDrive(1, 0), 0) << ui().Transcript();
  Refresh();
  ASSERT_TRUE(Drive(1).patched);

  // Already patched; confirmation; keep MPEG; reformat the Photo partition as 20MB.
  ui().AnswerAll({true, true, false, true});
  ASSERT_EQ(PatchSingleDrive(1, 40960), 0) << ui().Transcript();
  Refresh();
  PartitionEntry p3 = ReadPartitionEntry(testing::ReadSector(Image("new.img"), 0, true), 3);
  EXPECT_EQ(p3.start, 500000u - 40960u);
  EXPECT_EQ(p3.length, 40960u);
  InspectionReport report = InspectDrive(Image("new.img"));
  EXPECT_TRUE(report.verified) << RenderInspection(report);
  EXPECT_EQ(report.photo.cluster_size, 8192u);
  EXPECT_EQ(report.photo.cluster_count, 40960u / 16u);
  EXPECT_EQ(report.photo.blocks.size(), 4u) << "superblock, root, 'tmp' and 'Photo'";
  EXPECT_EQ(report.mpeg.cluster_count, (500000u - 4002u - 40960u) / 512u);
  EXPECT_TRUE(Drive(1).patched);
}

}  // namespace
}  // namespace quillmar
