// Every refusal and every "no" of the copies, the patch, the join, the backup and the restore
// leaves every image byte-identical, after the exact questions and boxes of its path.
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "disk/drive_identity.h"
#include "format/partition_block.h"
#include "ops/operations.h"
#include "ops/verify.h"
#include "tests/ops/ops_test_env.h"
#include "tests/support/disk_aliases.h"
#include "tests/support/param_names.h"

namespace quillmar {
namespace {

using testing::MakeBlankImage;
using testing::MakePcDisk;
using testing::MakeReplayTvDisk;
using testing::PcDisk;
using testing::ReplayTvDisk;

// Drives 0..3: a standard ReplayTV disk (1 GB), a larger blank disk (2 GB), a PC disk, an
// RTV4000 disk with a Photo partition; drive 4 is a smaller ReplayTV disk, drive 5 a tiny blank
// disk and drive 6 a small disk whose partition block claims a partition 1 of 4 billion sectors
// and a partition 3 that runs past its end.
enum Drive {
  kRecorder,
  kBlank,
  kPcDisk,
  kPhotoDisk,
  kSmallRecorder,
  kTiny,
  kHugeSystem,
  kNone = -1
};

constexpr uint32_t kTinySectors = 2048;
constexpr uint32_t kHugeSystemSectors = 100000;

// Recorder partition types in entries 1 and 2, a partition 1 longer than the disk, and a
// partition 3 that runs past its end.
::testing::AssertionResult MakeHugeSystemDisk(const std::string& path) {
  if (auto made = MakeBlankImage(path, kHugeSystemSectors); !made)
    return made;
  Sector block = EmptyPartitionBlock();
  WritePartitionEntry(block, 1, {kRecorderPartitionType, 2, 0xFFFFF000u});
  WritePartitionEntry(block, 2, {kRecorderPartitionType, 0xFFFFF002u, 1000});
  // One sector past the end: sectors 79521 to 100000 of a 100,000-sector disk.
  WritePartitionEntry(block, 3, {kRecorderPartitionType, 79521, 20480});
  return testing::WriteSectors(path, 0, block);
}

struct RefusalCase {
  const char* name;
  std::function<int()> run;
  std::vector<bool> answers;
  // The last question's text (without the confirmation suffix) or, when empty, the last box's.
  std::string last_question;
  std::string last_box;
};

void PrintTo(const RefusalCase& c, std::ostream* out) {
  *out << c.name;
}

class RefusalTest : public testing::OpsTest, public ::testing::WithParamInterface<RefusalCase> {
 protected:
  void SetUp() override {
    OpsTest::SetUp();
    ReplayTvDisk recorder;
    recorder.disk_sectors = 2000000;
    ASSERT_TRUE(MakeReplayTvDisk(Image("recorder.img"), recorder));
    ASSERT_TRUE(MakeBlankImage(Image("blank.img"), 4000000));
    ASSERT_TRUE(MakePcDisk(Image("pc.img"), 8192, PcDisk::kNtfs));
    ReplayTvDisk photo;
    photo.disk_sectors = 1000000;
    photo.rtv4000 = true;
    photo.photo_sectors = 20480;
    ASSERT_TRUE(MakeReplayTvDisk(Image("photo.img"), photo));
    ReplayTvDisk small;
    small.disk_sectors = 1000000;
    ASSERT_TRUE(MakeReplayTvDisk(Image("small.img"), small));
    ASSERT_TRUE(MakeBlankImage(Image("tiny.img"), kTinySectors));
    ASSERT_TRUE(MakeHugeSystemDisk(Image("huge\nsystem.img")));
    UseDrives({Image("recorder.img"), Image("blank.img"), Image("pc.img"), Image("photo.img"),
               Image("small.img"), Image("tiny.img"), Image("huge\nsystem.img")});
    Snapshot();
  }

  // The texts name drives by their paths, which lie in the test's own folder: %BLANK% stands
  // for the path of blank.img, and so on; the line break in one name shows escaped.
  std::string WithPaths(std::string text) const {
    const std::pair<const char*, const char*> files[] = {{"%BLANK%", "blank.img"},
                                                         {"%TINY%", "tiny.img"},
                                                         {"%PHOTO%", "photo.img"},
                                                         {"%RECORDER%", "recorder.img"},
                                                         {"%HUGE_SYSTEM%", "huge\\x0asystem.img"}};
    for (const auto& [token, file] : files) {
      for (size_t at; (at = text.find(token)) != std::string::npos;)
        text.replace(at, std::string(token).size(), Image(file));
    }
    return text;
  }
};

TEST_P(RefusalTest, WritesNothing) {
  const RefusalCase& c = GetParam();
  ui();  // the front-end is there before the operation runs, also when nothing is asked
  for (bool answer : c.answers)
    ui().Answer(answer);
  EXPECT_EQ(c.run(), -1);
  EXPECT_EQ(ui().unanswered(), 0u);
  EXPECT_TRUE(Unchanged());
  if (!c.last_question.empty()) {
    std::string expected = WithPaths(c.last_question);
    ASSERT_FALSE(ui().questions().empty());
    const std::string& asked = ui().questions().back().text;
    EXPECT_TRUE(asked == expected || asked == testing::Confirmation(expected)) << asked;
  }
  if (!c.last_box.empty()) {
    ASSERT_FALSE(ui().boxes().empty());
    EXPECT_EQ(ui().boxes().back().text, WithPaths(c.last_box));
    EXPECT_EQ(ui().boxes().back().caption, "*** ERROR ***");
  }
  EXPECT_FALSE(ui().LoggedContaining("Copy Complete"));
  EXPECT_FALSE(ui().LoggedContaining("PATCH COMPLETE"));
}

const std::string kNotReplayTv = "Source disk does not seem to be a ReplayTV disk.";
const std::string kSystemDisk =
    "Target disk appears to be a System Disk!!!\nYOU SHOULD NEVER OVERWRITE A SYSTEM DISK!!!\n"
    "Please remove the partitions from the target disk\nand reboot your computer before "
    "continuing\nCONTINUE AT YOUR OWN RISK, ONLY IF YOU KNOW WHAT YOU ARE DOING!!!";
const std::string kBigger = "Source disk is BIGGER THAN Target disk.";
const std::string kMissing = "You must specify a source and a target disk.";
const std::string kSame = "Source and Target disks MUST NOT be the same.";

int Verify(int source, int target, UpgradeRange which) {
  std::vector<RangeComparison> ranges;
  return VerifyUpgradeRanges(source, target, which, &ranges);
}

std::vector<RefusalCase> Cases() {
  return {
      // Mirror
      {"MirrorNoTarget", [] { return MirrorSystemPartition(kRecorder, kNone); }, {}, "", kMissing},
      {"MirrorNoSource", [] { return MirrorSystemPartition(kNone, kBlank); }, {}, "", kMissing},
      {"MirrorSameDrive", [] { return MirrorSystemPartition(kBlank, kBlank); }, {}, "", kSame},
      {"MirrorNotReplayTv",
       [] { return MirrorSystemPartition(kBlank, kRecorder); },
       {false},
       kNotReplayTv,
       ""},
      {"MirrorBigger",
       [] { return MirrorSystemPartition(kRecorder, kSmallRecorder); },
       {false},
       kBigger,
       ""},
      {"MirrorSystemDisk",
       [] { return MirrorSystemPartition(kSmallRecorder, kPcDisk); },
       {false},
       kSystemDisk,
       ""},
      {"MirrorConfirmation",
       [] { return MirrorSystemPartition(kRecorder, kBlank); },
       {false},
       "",
       ""},
      {"MirrorSystemAreaLargerThanSource",
       [] { return MirrorSystemPartition(kHugeSystem, kBlank); },
       {},
       "",
       "*** ERROR: The system area of disk %HUGE_SYSTEM% (4294973442 blocks) is larger\n"
       "           than the disk itself (100000 blocks)."},
      {"MirrorOntoSmallerImage",
       [] { return MirrorSystemPartition(kRecorder, kTiny); },
       {true},
       "",
       "*** ERROR: The system area of disk %RECORDER% (14242 blocks) is larger\n"
       "           than disk %TINY% (2048 blocks)."},
      // Copy MPEG
      {"MpegNoDrives", [] { return CopyMpegPartition(kNone, kNone); }, {}, "", kMissing},
      {"MpegSameDrive", [] { return CopyMpegPartition(kRecorder, kRecorder); }, {}, "", kSame},
      {"MpegTargetNotReplayTv",
       [] { return CopyMpegPartition(kRecorder, kBlank); },
       {false},
       "Target disk does not seem to be a ReplayTV disk.",
       ""},
      {"MpegBigger",
       [] { return CopyMpegPartition(kRecorder, kSmallRecorder); },
       {false},
       kBigger,
       ""},
      {"MpegSmallerRange",
       [] { return CopyMpegPartition(kRecorder, kSmallRecorder); },
       {true, true, false},
       "*** WARNING: 2nd partition of Source disk is BIGGER THAN 2nd partition\n             of "
       "Target disk!\n             It is unlikely that shows can be copied properly.",
       ""},
      {"MpegConfirmation",
       [] { return CopyMpegPartition(kSmallRecorder, kRecorder); },
       {false},
       "",
       ""},
      {"MpegStartBeyondTarget",
       [] { return CopyMpegPartition(kRecorder, kTiny); },
       {true, true},
       "",
       "*** ERROR: The 2nd partition of disk %RECORDER% starts at sector 4002,\n"
       "           beyond the end of disk %TINY% (2048 blocks)."},
      {"MpegOntoOtherPartition2Start",
       [] { return CopyMpegPartition(kRecorder, kHugeSystem); },
       {true},
       "",
       "*** ERROR: The 2nd partition of disk %HUGE_SYSTEM% starts at sector 4294963202,\n"
       "           that of disk %RECORDER% at sector 4002: the copy would overwrite\n"
       "           its system partition or its file system."},
      {"MpegSourcePartition2InItsSystemArea",
       [] { return CopyMpegPartition(kBlank, kRecorder); },
       {true, true},
       "",
       "*** ERROR: The 2nd partition of disk %BLANK% starts at sector 0,\n"
       "           inside its partition table and system partition\n"
       "           (sectors 0 to 1)."},
      // Copy Photo
      {"PhotoNoSource", [] { return CopyPhotoPartition(kNone, kBlank); }, {}, "", kMissing},
      {"PhotoWithoutPartition",
       [] { return CopyPhotoPartition(kRecorder, kBlank); },
       {},
       "",
       "Source disk doesn't have a Photo partition."},
      {"PhotoSystemDisk",
       [] { return CopyPhotoPartition(kPhotoDisk, kPcDisk); },
       {false},
       kSystemDisk,
       ""},
      {"PhotoConfirmation", [] { return CopyPhotoPartition(kPhotoDisk, kBlank); }, {false}, "", ""},
      {"PhotoOverlapOnTheSameDrive",
       [] { return CopyPhotoPartition(kPhotoDisk, kPhotoDisk); },
       {},
       "",
       "Can't proceed because the source and target range overlap."},
      {"PhotoLargerThanTarget",
       [] { return CopyPhotoPartition(kPhotoDisk, kTiny); },
       {},
       "",
       "*** ERROR: The 3rd partition of disk %PHOTO% (20480 blocks) is larger\n"
       "           than disk %TINY% (2048 blocks)."},
      {"PhotoIntoTargetSystemPartition",
       [] { return CopyPhotoPartition(kPhotoDisk, kHugeSystem); },
       {},
       "",
       "*** ERROR: The 3rd partition of disk %PHOTO% would start at sector 79520 of disk "
       "%HUGE_SYSTEM%,\n           inside its partition table or system partition\n"
       "           (sectors 0 to 4294963201)."},
      {"PhotoSourceRangePastItsEnd",
       [] { return CopyPhotoPartition(kHugeSystem, kBlank); },
       {true},
       "",
       "*** ERROR: The 3rd partition of disk %HUGE_SYSTEM% (sectors 79521 to 100000)\n"
       "           runs past the end of the disk (100000 blocks)."},
      // Patch
      {"PatchNoDrive",
       [] { return PatchSingleDrive(kNone, 0); },
       {},
       "",
       "You must select a disk first."},
      {"PatchSystemDisk",
       [] { return PatchSingleDrive(kPcDisk, 0); },
       {},
       "",
       "Selected drive appears to be a System Disk!!!\nYOU CAN NOT PATCH A SYSTEM DISK!!!"},
      {"PatchNotReplayTv",
       [] { return PatchSingleDrive(kBlank, 0); },
       {false},
       "Target disk does not seem to be a ReplayTV disk.",
       ""},
      {"PatchAlreadyPatched",
       [] { return PatchSingleDrive(kRecorder, 0); },
       {false},
       "Target disk seems to be already patched.",
       ""},
      {"PatchConfirmation", [] { return PatchSingleDrive(kRecorder, 0); }, {true, false}, "", ""},
      // Two drives
      {"JoinNoDrive1",
       [] { return AddSecondDrive(kNone, kBlank, 0); },
       {},
       "",
       "No drive 1 defined."},
      {"JoinDrive1SystemDisk",
       [] { return AddSecondDrive(kPcDisk, kBlank, 0); },
       {},
       "",
       "Drive 1 of 2 appears to be a System Disk!!!\nYOU CAN NOT PATCH A SYSTEM DISK!!!"},
      {"JoinSameDrive",
       [] { return AddSecondDrive(kRecorder, kRecorder, 0); },
       {},
       "",
       "Drive 1 and Drive 2 MUST NOT be the same (%RECORDER%)."},
      {"JoinNoDrive2",
       [] { return AddSecondDrive(kRecorder, kNone, 0); },
       {},
       "",
       "No drive 2 defined."},
      {"JoinDrive2SystemDisk",
       [] { return AddSecondDrive(kRecorder, kPcDisk, 0); },
       {false},
       "Drive 2 of 2 appears to be a System Disk!!!\nYOU SHOULD NEVER OVERWRITE A SYSTEM "
       "DISK!!!\nPlease remove the partitions from Drive 2 of 2\nand reboot your computer before "
       "continuing\nCONTINUE AT YOUR OWN RISK, ONLY IF YOU KNOW WHAT YOU ARE DOING!!!",
       ""},
      {"JoinDrive1NotReplayTv",
       [] { return AddSecondDrive(kBlank, kRecorder, 0); },
       {false},
       "Drive 1 does not appear to contain ReplayTV software.",
       ""},
      // Backup and restore
      {"BackupNotReplayTv",
       [] { return BackupSourceDrive(kBlank, nullptr); },
       {false},
       "*** WARNING: Source disk does not seem to be a ReplayTV disk.\n    Do you want to "
       "continue?",
       ""},
      {"RestoreOverwrite",
       [] { return RestoreTargetDrive(kBlank, nullptr); },
       {false},
       "*** Warning: This will OVERWRITE the contents of the target drive\n    %BLANK% "
       "(blank.img)\n*** Are you SURE that you want to continue?",
       ""},
      // Verify: nothing is compared, nothing passes
      {"VerifySameDrive",
       [] { return Verify(kPhotoDisk, kPhotoDisk, UpgradeRange::kAll); },
       {},
       "",
       kSame},
      {"VerifyWithoutPhotoPartition",
       [] { return Verify(kRecorder, kBlank, UpgradeRange::kPhoto); },
       {},
       "",
       "*** ERROR: Nothing to compare: drive 0 has no Photo partition\n"
       "           that drive 1 can hold."},
  };
}

INSTANTIATE_TEST_SUITE_P(Operations, RefusalTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<RefusalCase>& refusal) {
                           return std::string(refusal.param.name);
                         });

// Cancelling a file choice: no copy, no line, no start of the operation.
TEST_F(RefusalTest, CancelledFileChoices) {
  int starts = 0;
  ui().CancelFileChoice();
  EXPECT_EQ(BackupSourceDrive(kRecorder, [&] { ++starts; }), -1);
  ui().AnswerAll({true});
  ui().CancelFileChoice();
  EXPECT_EQ(RestoreTargetDrive(kBlank, [&] { ++starts; }), -1);
  EXPECT_EQ(starts, 0);
  EXPECT_TRUE(ui().lines().empty()) << ui().Transcript();
  EXPECT_TRUE(Unchanged());
}

// The operations on drives 0 and 1 (the join writes to both), then those that write to drive 1
// alone. Each refuses with the box before any question; nothing is written.
const std::vector<std::function<int()>> kWritingDrive1 = {
    [] { return MirrorSystemPartition(0, 1); },   [] { return CopyMpegPartition(0, 1); },
    [] { return CopyPhotoPartition(0, 1); },      [] { return AddSecondDrive(0, 1, 0); },
    [] { return PatchSingleDrive(1, 0); },        [] { return AddSecondDrive(1, 0, 0); },
    [] { return RestoreTargetDrive(1, nullptr); }};

void ExpectRefused(testing::ScriptedFrontEnd& ui, size_t count, const std::string& box) {
  for (size_t i = 0; i < count; ++i) {
    EXPECT_EQ(kWritingDrive1[i](), -1);
    ASSERT_EQ(ui.boxes().size(), i + 1) << ui.Transcript();
    EXPECT_EQ(ui.boxes().back().text, box);
  }
  EXPECT_TRUE(ui.questions().empty()) << ui.Transcript();
}

class TwoNames : public testing::OpsTest, public ::testing::WithParamInterface<testing::DiskAlias> {
 protected:
  void SetUp() override {
    if (::geteuid() != 0 && GetParam().needs_root)
      GTEST_SKIP() << "attaching a loop device needs root";
    OpsTest::SetUp();
    ReplayTvDisk recorder;
    recorder.disk_sectors = 200000;
    ASSERT_TRUE(MakeReplayTvDisk(Image("recorder.img"), recorder));
    ASSERT_TRUE(MakeBlankImage(Image("blank.img"), 400000));
  }
};

TEST_P(TwoNames, OfOneDiskAreOneDriveAndNeverTwoDrivesOfAnOperation) {
  const testing::DiskAlias& alias = GetParam();
  std::list<testing::LoopDevice> loops;
  auto [a, b] = alias.names(Image("recorder.img"), &loops);
  if (a.empty() || b.empty())
    GTEST_SKIP() << "could not make the loop device here";
  EXPECT_EQ(DiskRelationOf(a, b),
            alias.overlapping ? DiskRelation::kOverlapping : DiskRelation::kSame);
  ui();
  UseDrives({a, b});
  paths_ = {Image("recorder.img")};
  Snapshot();
  if (!alias.overlapping) {
    // Left out of the drive table; however the table came to hold it, it is still refused.
    EXPECT_EQ(ui().lines().back(),
              b + " is the same disk as " + a + " (drive 0); it is left out of the drive list");
    EXPECT_EQ(Drive(1).size_sectors, 0u);
    DriveAt(1) = Drive(0);
    DriveAt(1).device_path = b;
  }
  ExpectRefused(ui(), 4,
                a + " and " + b +
                    (alias.overlapping ? " overlap: they share sectors of one disk."
                                       : " are the same disk under two names.") +
                    "\nNothing was written.");
  EXPECT_TRUE(Unchanged());
}

INSTANTIATE_TEST_SUITE_P(Aliases, TwoNames, ::testing::ValuesIn(testing::DiskAliases()),
                         [](const ::testing::TestParamInfo<testing::DiskAlias>& alias) {
                           return std::string(alias.param.name);
                         });

// A recorder cannot use a drive of 4096-byte sectors: it is read as a source, never written.
using SectorSize = TwoNames;
TEST_P(SectorSize, Of4096BytesAreReadButNeverWritten) {
  testing::LoopDevice loop(Image("recorder.img"), "--sector-size 4096");
  if (loop.path().empty())
    GTEST_SKIP() << "losetup could not attach a loop device here";
  UseDrives({Image("blank.img"), loop.path()});
  paths_ = {Image("blank.img"), Image("recorder.img")};
  Snapshot();
  EXPECT_EQ(Drive(1).size_sectors, 200000u);
  ExpectRefused(ui(), kWritingDrive1.size(),
                loop.path() +
                    " has 4096-byte sectors.\nA ReplayTV recorder can only use drives with "
                    "512-byte sectors.\nNothing was written.");
  ui().Answer(false);
  EXPECT_EQ(MirrorSystemPartition(1, 0), -1);
  EXPECT_EQ(QuestionTexts().size(), 1u) << "the mirror from it reaches its confirmation";
  EXPECT_TRUE(Unchanged());
}

// One root-only row: the test makes its own loop device.
INSTANTIATE_TEST_SUITE_P(Loop, SectorSize,
                         ::testing::Values(testing::DiskAlias{"", true, false, nullptr}),
                         [](const ::testing::TestParamInfo<testing::DiskAlias>&) {
                           return std::string("Sectors4096");
                         });

}  // namespace
}  // namespace quillmar
