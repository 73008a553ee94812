// Backup of a drive's system area to an image file and its restore, with the window's questions
// and file choices.
#include <gtest/gtest.h>

#include <fstream>

#include "format/fs_blocks.h"
#include "ops/operations.h"
#include "tests/ops/ops_test_env.h"
#include "tests/support/fake_device.h"

namespace quillmar {
namespace {

using testing::FileSize;
using testing::MakeBlankImage;
using testing::MakeReplayTvDisk;
using testing::ReadFsBlock;
using testing::ReadSectors;
using testing::ReplayTvDisk;

constexpr const char* kFilter = "ReplayTV backup files (*.rtv)|*.rtv|All Files (*.*)|*.*||";
constexpr uint32_t kSystemPartition = 4000;
constexpr uint64_t kImageBlocks = kSystemPartition + 10242;

class BackupRestoreTest : public testing::OpsTest {
 protected:
  void SetUp() override {
    OpsTest::SetUp();
    ReplayTvDisk disk;
    disk.disk_sectors = 100000;
    disk.p1_length = kSystemPartition;
    disk.stale_pair_block = true;
    disk.recordings = {{kImageBlocks - 100, 200}};  // across the end of the image
    ASSERT_TRUE(MakeReplayTvDisk(Image("disk.img"), disk));
    ASSERT_TRUE(MakeBlankImage(Image("blank.img"), 200000));
    UseDrives({Image("disk.img"), Image("blank.img")});
  }

  OperationStart CountStarts() {
    return [this] { ++starts_; };
  }

  int starts_ = 0;
};

TEST_F(BackupRestoreTest, BackupThenRestoreGivesAnIdenticalSystemArea) {
  ui().ChooseFileAnswer(Image("backup.rtv"));
  ASSERT_EQ(BackupSourceDrive(0, CountStarts()), 0) << ui().Transcript();
  EXPECT_EQ(starts_, 1);
  ASSERT_EQ(ui().file_requests().size(), 1u);
  const FileChoiceRequest& saved = ui().file_requests()[0];
  EXPECT_TRUE(saved.save);
  EXPECT_EQ(saved.title, "Select backup file name");
  EXPECT_EQ(saved.filter, kFilter);
  EXPECT_EQ(saved.default_extension, "rtv");
  EXPECT_TRUE(ui().Logged("*** Backup complete"));
  EXPECT_EQ(FileSize(Image("backup.rtv")), static_cast<int64_t>(kImageBlocks * 512));

  ui().AnswerAll({true, false});  // overwrite; no reset
  ui().ChooseFileAnswer(Image("backup.rtv"));
  ASSERT_EQ(RestoreTargetDrive(1, CountStarts()), 0) << ui().Transcript();
  EXPECT_EQ(starts_, 2);
  const FileChoiceRequest& opened = ui().file_requests()[1];
  EXPECT_FALSE(opened.save);
  EXPECT_EQ(opened.title, "Select file to restore from");
  EXPECT_EQ(opened.filter, kFilter);
  std::vector<testing::Box> questions = ui().questions();
  ASSERT_EQ(questions.size(), 2u);
  EXPECT_EQ(questions[0].caption, "Warning");
  EXPECT_EQ(questions[0].text,
            "*** Warning: This will OVERWRITE the contents of the target "
            "drive\n    " +
                Image("blank.img") + " (blank.img)\n*** Are you SURE that you want to continue?");
  EXPECT_EQ(questions[1].caption, "Reset MPEG partition?");
  EXPECT_TRUE(ui().Logged("*** Restore complete"));

  EXPECT_EQ(ReadSectors(Image("blank.img"), 0, kImageBlocks),
            ReadSectors(Image("disk.img"), 0, kImageBlocks));
  EXPECT_EQ(ReadSectors(Image("blank.img"), kImageBlocks, 100), std::vector<uint8_t>(51200, 0));
  Refresh();
  EXPECT_TRUE(Drive(1).is_replaytv);
  EXPECT_FALSE(Drive(1).patched) << "the restored layout does not fill the larger drive";
}

TEST_F(BackupRestoreTest, BackupOverALongerFileLeavesExactlyTheNewImage) {
  {
    std::ofstream old(Image("old.rtv"), std::ios::binary);
    std::vector<char> junk(kImageBlocks * 512 + 3 * 512 + 17, 'x');
    old.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  ui().ChooseFileAnswer(Image("old.rtv"));
  ASSERT_EQ(BackupSourceDrive(0, CountStarts()), 0) << ui().Transcript();
  EXPECT_EQ(FileSize(Image("old.rtv")), static_cast<int64_t>(kImageBlocks * 512));
  EXPECT_EQ(ReadSectors(Image("old.rtv"), 0, kImageBlocks),
            ReadSectors(Image("disk.img"), 0, kImageBlocks));
}

TEST_F(BackupRestoreTest, BackupRefusesToEmptyTheSourceItself) {
  Snapshot();
  ui().ChooseFileAnswer(Image("disk.img"));
  EXPECT_EQ(BackupSourceDrive(0, CountStarts()), -1);
  EXPECT_TRUE(Unchanged());
  EXPECT_EQ(starts_, 0);
  EXPECT_EQ(LastBox().caption, "*** ERROR ***");
}

// A reset that refuses (here a root cluster of 200) makes the restore a failure whose closing box
// says what was done.
TEST_F(BackupRestoreTest, RestoreWithResetEmptiesTheRootDirectory) {
  ui().ChooseFileAnswer(Image("backup.rtv"));
  ASSERT_EQ(BackupSourceDrive(0, CountStarts()), 0);
  for (bool refused : {false, true}) {
    SCOPED_TRACE(refused);
    std::array<uint8_t, 8> root_cluster{};
    PutBe64(root_cluster, 0, refused ? 200 : 3);
    ASSERT_TRUE(testing::WriteBytes(Image("backup.rtv"),
                                    (kSystemPartition + 2) * 512 + 262144 + kSuperRootCluster,
                                    root_cluster));
    ui().AnswerAll({true, true});
    ui().ChooseFileAnswer(Image("backup.rtv"));
    EXPECT_EQ(RestoreTargetDrive(1, CountStarts()), refused ? -1 : 0) << ui().Transcript();
    if (refused) {
      EXPECT_EQ(LastBox().text, "*** ERROR: The image was restored to " + Image("blank.img") +
                                    ",\n           but its MPEG partition was not reset.");
      EXPECT_EQ(ui().lines().back(), LastBox().text) << "no \"Restore complete\" after it";
      continue;
    }
    EXPECT_TRUE(ui().Logged("*** Restore complete"));
    EXPECT_TRUE(ui().Logged("*** MPEG partition reset is complete"));
    FsBlock root =
        ReadFsBlock(Image("blank.img"), (kSystemPartition + 2) * 512 + 3 * 262144, false);
    for (size_t i = kDirSlots; i < root.size(); ++i)
      ASSERT_EQ(root[i], 0xFF) << i;
  }
}

// The size question at its bound: n = p1_length + 10,242 above 2,048,000 is questioned.
TEST_F(BackupRestoreTest, LargeSystemPartitionIsQuestioned) {
  DriveTable[0].p1_length = 2037758;
  ui().CancelFileChoice();
  EXPECT_EQ(BackupSourceDrive(0, CountStarts()), -1);
  EXPECT_TRUE(ui().questions().empty());

  DriveTable[0].p1_length = 2037759;
  DriveTable[0].is_replaytv = 0;
  ui().AnswerAll({true, false});
  EXPECT_EQ(BackupSourceDrive(0, CountStarts()), -1);
  ASSERT_EQ(ui().questions().size(), 2u);
  EXPECT_EQ(ui().questions()[0].text,
            "*** WARNING: Source disk does not seem to be a ReplayTV disk.\n    Do you want to "
            "continue?");
  EXPECT_EQ(ui().questions()[1].text,
            "*** WARNING: Source disk has a first partition larger than 1000 MB.\n    This is "
            "bigger than any known ReplayTV unit!!!\n    Are you sure you want to back up this "
            "image?");
  EXPECT_EQ(starts_, 0);
  EXPECT_TRUE(ui().lines().empty()) << ui().Transcript();
}

TEST_F(BackupRestoreTest, RestoreToAPcDiskNamesItsIndex) {
  DriveTable[1].system_disk = 1;
  Snapshot();
  ui().AnswerAll({false});
  EXPECT_EQ(RestoreTargetDrive(1, CountStarts()), -1);
  EXPECT_TRUE(Unchanged());
  EXPECT_EQ(ui().questions()[0].text,
            "*** WARNING: Drive 1 contains non-ReplayTV partition information\n*** WARNING: and "
            "may be one of your PC's drives.\n    Are you sure you want to continue?");
}

// A failed copy is never reported as a finished backup or restore, and no reset is offered.
class FailedCopyTest : public testing::OpsTest {
 protected:
  void SetUp() override {
    OpsTest::SetUp();
    ResetDriveTable();
    DriveInfo& drive = DriveTable[0];
    drive.device_path = "fake-drive";
    drive.model = "Fake";
    drive.size_sectors = 40000;
    drive.p1_length = 1000;
    drive.is_replaytv = 1;
  }
  testing::FakeDeviceIo io_;
};

TEST_F(FailedCopyTest, BackupThatCannotReadIsNotComplete) {
  testing::FakeDevice& drive = io_.Add("fake-drive", 40000 * 512);
  drive.FailReadAt(700);
  ui().ChooseFileAnswer(Image("backup.rtv"));
  EXPECT_EQ(BackupSourceDrive(0, nullptr), -1);
  EXPECT_FALSE(ui().LoggedContaining("Backup complete")) << ui().Transcript();
  EXPECT_TRUE(drive.writes().empty());
}

TEST_F(FailedCopyTest, RestoreThatCannotWriteOffersNoReset) {
  testing::FakeDevice& drive = io_.Add("fake-drive", 40000 * 512);
  drive.FailWriteAt(3);
  {
    std::vector<char> image(2000 * 512, 0x5A);
    std::ofstream file(Image("image.rtv"), std::ios::binary);
    file.write(image.data(), static_cast<std::streamsize>(image.size()));
  }
  ui().AnswerAll({true});  // overwrite; a reset question would be unexpected
  ui().ChooseFileAnswer(Image("image.rtv"));
  EXPECT_EQ(RestoreTargetDrive(0, nullptr), -1);
  EXPECT_EQ(ui().questions().size(), 1u);
  EXPECT_FALSE(ui().LoggedContaining("Restore complete")) << ui().Transcript();
}

}  // namespace
}  // namespace quillmar
