// Backup of a drive's system area to an image file and its restore, with the window's questions
// and file choices.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>

#include "format/fs_blocks.h"
#include "format/partition_block.h"
#include "ops/operations.h"
#include "tests/ops/ops_test_env.h"
#include "tests/support/fake_device.h"

namespace quillmar {
namespace {

using testing::FileSize;
using testing::MakeBlankImage;
using testing::MakeReplayTvDisk;
using testing::ReadBytes;
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
  ASSERT_EQ(::chmod(Image("old.rtv").c_str(), 0604), 0);
  bool root = ::geteuid() == 0;
  ASSERT_TRUE(!root || ::chown(Image("old.rtv").c_str(), 4321, 4322) == 0);
  ui().ChooseFileAnswer(Image("old.rtv"));
  ASSERT_EQ(BackupSourceDrive(0, CountStarts()), 0) << ui().Transcript();
  EXPECT_EQ(FileSize(Image("old.rtv")), static_cast<int64_t>(kImageBlocks * 512));
  struct stat st {};
  ASSERT_EQ(::stat(Image("old.rtv").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u) << "the replaced file keeps its permissions and owner";
  EXPECT_TRUE(!root || (st.st_uid == 4321 && st.st_gid == 4322));
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

// A file that cannot be (or hold) a backup image is refused before anything is written: the
// drives, the chosen file and its folder stay as they were (no temporary file), nothing starts,
// no reset is offered, and the box names the file and the value.
struct ImageFileCase {
  const char* name;
  bool backup;
  // Makes the chosen file in the test's folder (a source disk in it is "disk.img"); its path.
  std::function<std::string(const std::string& dir)> make;
  std::string box;  // %FILE% stands for the chosen path, %DIR% for the test's folder
};

void PrintTo(const ImageFileCase& c, std::ostream* out) {
  *out << c.name;
}

std::string Written(const std::string& path, const std::vector<uint8_t>& bytes,
                    uint64_t length = 0) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (length != 0)
    std::filesystem::resize_file(path, length);
  return path;
}

std::string Fifo(const std::string& dir) {
  std::string path = dir + "/fifo.rtv";
  EXPECT_EQ(::mkfifo(path.c_str(), 0644), 0);
  return path;
}

std::vector<uint8_t> RandomBytes(size_t count) {
  std::mt19937 random(10);
  std::vector<uint8_t> bytes(count);
  for (uint8_t& byte : bytes)
    byte = static_cast<uint8_t>(random());
  return bytes;
}

class RefusedImageFile : public BackupRestoreTest,
                         public ::testing::WithParamInterface<ImageFileCase> {
 protected:
  // Every file of the folder but the log, with a hash of its contents.
  std::map<std::string, uint64_t> Folder() const {
    std::map<std::string, uint64_t> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      if (entry.path().filename() != "quillmar.log")
        files[entry.path().filename()] =
            entry.is_regular_file() ? testing::ImageHash(entry.path()) : 0;
    }
    return files;
  }
};

TEST_P(RefusedImageFile, BeforeAnythingIsWritten) {
  const ImageFileCase& c = GetParam();
  std::string path = c.make(dir_.path());
  std::map<std::string, uint64_t> folder = Folder();
  Snapshot();
  ui().ChooseFileAnswer(path);
  if (!c.backup)
    ui().Answer(true);  // overwrite; a reset question would be unexpected
  EXPECT_EQ(c.backup ? BackupSourceDrive(0, CountStarts()) : RestoreTargetDrive(1, CountStarts()),
            -1);
  EXPECT_EQ(starts_, 0);
  EXPECT_TRUE(Unchanged());
  EXPECT_EQ(Folder(), folder);
  std::string box = c.box;
  for (const auto& [token, value] :
       {std::pair<std::string, std::string>{"%FILE%", path}, {"%DIR%", dir_.path()}}) {
    for (size_t at; (at = box.find(token)) != std::string::npos;)
      box.replace(at, token.size(), value);
  }
  EXPECT_EQ(LastBox().text, box) << ui().Transcript();
}

const std::string kNoBlock = "*** ERROR: %FILE% holds no ReplayTV partition block.";
const std::string kNotRegular = "*** ERROR: %FILE% is not a regular file.";

INSTANTIATE_TEST_SUITE_P(
    BackupRestore, RefusedImageFile,
    ::testing::Values(
        ImageFileCase{"RestoreEmpty", false, [](auto& dir) { return Written(dir + "/e", {}); },
                      kNoBlock},
        ImageFileCase{
            "Restore511Bytes", false,
            [](auto& dir) { return Written(dir + "/s", std::vector<uint8_t>(511, 0x4D)); },
            "*** ERROR: %FILE% is not a whole number of 512-byte sectors (511 bytes)."},
        ImageFileCase{"RestoreDevNull", false, [](auto&) { return "/dev/null"; }, kNotRegular},
        ImageFileCase{"RestoreDevZero", false, [](auto&) { return "/dev/zero"; }, kNotRegular},
        ImageFileCase{"RestoreFifo", false, Fifo, kNotRegular},
        ImageFileCase{"RestoreRandomBytes", false,
                      [](auto& dir) { return Written(dir + "/r", RandomBytes(5859 * 512)); },
                      kNoBlock},
        ImageFileCase{"RestoreTruncated", false,
                      [](auto& dir) {
                        return Written(dir + "/t",
                                       ReadSectors(dir + "/disk.img", 0, kImageBlocks - 1));
                      },
                      "*** ERROR: %FILE% holds 14241 sectors; the system area its partition "
                      "block describes needs 14242."},
        ImageFileCase{"RestoreLargerThanTarget", false,
                      [](auto& dir) {
                        return Written(dir + "/l", ReadSectors(dir + "/disk.img", 0, kImageBlocks),
                                       200001 * 512);
                      },
                      "*** ERROR: %FILE% holds 200001 sectors; target drive %DIR%/blank.img "
                      "holds only 200000."},
        ImageFileCase{"BackupToFifo", true, Fifo, kNotRegular},
        ImageFileCase{"BackupToDevNull", true, [](auto&) { return "/dev/null"; }, kNotRegular},
        ImageFileCase{"BackupIntoMissingFolder", true,
                      [](auto& dir) { return dir + "/missing/new.rtv"; },
                      "*** ERROR: Could not create a file in folder %DIR%/missing: No such file "
                      "or directory"},
        ImageFileCase{"BackupOfAShortSource", true,
                      [](auto& dir) {
                        DriveTable[0].p1_length = 95000;
                        return Written(dir + "/old.rtv", RandomBytes(4096));
                      },
                      "*** ERROR: Source disk %DIR%/disk.img holds 100000 sectors; its backup "
                      "needs 105242."}),
    [](const ::testing::TestParamInfo<ImageFileCase>& c) { return std::string(c.param.name); });

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

// The old image stays as it was, and the partial new one is not left behind.
TEST_F(FailedCopyTest, BackupThatCannotReadIsNotComplete) {
  testing::FakeDevice& drive = io_.Add("fake-drive", 40000 * 512);
  drive.FailReadAt(700);
  std::ofstream(Image("backup.rtv")) << "old image";
  ui().ChooseFileAnswer(Image("backup.rtv"));
  EXPECT_EQ(BackupSourceDrive(0, nullptr), -1);
  EXPECT_FALSE(ui().LoggedContaining("Backup complete")) << ui().Transcript();
  EXPECT_TRUE(drive.writes().empty());
  EXPECT_EQ(ReadBytes(Image("backup.rtv"), 0, 9),
            std::vector<uint8_t>({'o', 'l', 'd', ' ', 'i', 'm', 'a', 'g', 'e'}));
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    ++files;
  EXPECT_EQ(files, 2u) << "backup.rtv and quillmar.log";
}

TEST_F(FailedCopyTest, RestoreThatCannotWriteOffersNoReset) {
  testing::FakeDevice& drive = io_.Add("fake-drive", 40000 * 512);
  drive.FailWriteAt(3);
  {
    std::vector<char> image(11242 * 512, 0x5A);  // the system area of a 1000-sector partition 1
    Sector block = EmptyPartitionBlock();
    WritePartitionEntry(block, 1, {kRecorderPartitionType, 2, 1000});
    WritePartitionEntry(block, 2, {kRecorderPartitionType, 1002, 38998});
    std::copy(block.begin(), block.end(), image.begin());
    std::ofstream file(Image("image.rtv"), std::ios::binary);
    file.write(image.data(), static_cast<std::streamsize>(image.size()));
  }
  ui().AnswerAll({true});  // overwrite; a reset question would be unexpected
  ui().ChooseFileAnswer(Image("image.rtv"));
  EXPECT_EQ(RestoreTargetDrive(0, nullptr), -1);
  EXPECT_EQ(ui().questions().size(), 1u);
  EXPECT_FALSE(drive.writes().empty()) << "the restore got as far as writing";
  EXPECT_FALSE(ui().LoggedContaining("Restore complete")) << ui().Transcript();
}

}  // namespace
}  // namespace quillmar
