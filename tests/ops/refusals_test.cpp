// Every refusal and every "no" of every operation leaves every image, and every file of its
// folder, byte-identical, after exactly the questions of its path and the box that says why.
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <list>

#include "format/checksum.h"
#include "format/fs_blocks.h"
#include "format/partition_block.h"
#include "tests/ops/ops_harness.h"
#include "tests/support/disk_aliases.h"

namespace quillmar::testing {
namespace {

using ::testing::HasSubstr;

// Drive 6's partition block claims a partition 1 of 4 billion sectors and a partition 3 one
// sector past its end; drive 7 (patch.img) is an unpatched recorder disk, made afresh for every
// row and changed by the row's poke.
enum Drive { kRecorder, kBlank, kPc, kPhotoDisk, kSmall, kTiny, kHuge, kPatchee, kNone = -1 };
const std::vector<std::string> kDrives = {"recorder.img", "blank.img", "pc.img",
                                          "photo.img",    "small.img", "tiny.img",
                                          "huge\nsystem.img", "patch.img"};
constexpr uint64_t kP2 = 4002 * 512;  // partition 2 of patch.img, in bytes
constexpr uint64_t kCluster = 262144;

struct Poke {
  uint64_t offset = 0;
  std::vector<uint8_t> bytes;
};

struct Refusal {
  const char* name;
  Op op;
  int a, b;
  std::vector<bool> answers;
  std::string says;  // in the last box, or in the last question when no box was shown
  uint32_t photo = 0;
  Poke poke = {};               // written into patch.img before the drives are listed
  const char* file = nullptr;   // chosen by a backup or restore (nullptr: the choice cancelled)
  uint64_t cut = 0;             // patch.img cut to this many sectors after it was listed
};

const char* const kMissing = "You must specify a source and a target disk.";
const char* const kSame = "Source and Target disks MUST NOT be the same.";
const Poke kCluster513 = {kP2 + kSystemClusterSize, {0, 0, 2, 1}};

const std::vector<Refusal> kRefusals = {
    {"MirrorNoTarget", Op::kMirror, kRecorder, kNone, {}, kMissing},
    {"MirrorSameDrive", Op::kMirror, kBlank, kBlank, {}, kSame},
    {"MirrorNotReplayTv", Op::kMirror, kBlank, kRecorder, {false}, "Source disk does not seem"},
    {"MirrorBigger", Op::kMirror, kRecorder, kSmall, {false}, "BIGGER THAN Target disk"},
    {"MirrorSystemDisk", Op::kMirror, kSmall, kPc, {false}, "appears to be a System Disk"},
    {"MirrorDeclined", Op::kMirror, kRecorder, kBlank, {false}, "WILL DESTROY ALL DATA ON DISK"},
    {"MirrorSystemAreaLargerThanSource", Op::kMirror, kHuge, kBlank, {},
     "huge\\x0asystem.img (4294973442 blocks) is larger\n           than the disk itself"},
    {"MirrorOntoSmallerDisk", Op::kMirror, kRecorder, kTiny, {true}, "(14242 blocks) is larger"},
    {"MpegNoDrives", Op::kMpeg, kNone, kNone, {}, kMissing},
    {"MpegSameDrive", Op::kMpeg, kRecorder, kRecorder, {}, kSame},
    {"MpegTargetNotReplayTv", Op::kMpeg, kRecorder, kBlank, {false}, "Target disk does not seem"},
    {"MpegSmallerRange", Op::kMpeg, kRecorder, kSmall, {true, true, false}, "BIGGER THAN 2nd"},
    {"MpegDeclined", Op::kMpeg, kSmall, kRecorder, {false}, "DESTROY ALL CURRENT DATA"},
    {"MpegStartBeyondTarget", Op::kMpeg, kRecorder, kTiny, {true, true}, "beyond the end of disk"},
    {"MpegOntoOtherPartition2Start", Op::kMpeg, kRecorder, kHuge, {true}, "would overwrite"},
    {"MpegSourcePartition2InItsSystemArea", Op::kMpeg, kBlank, kRecorder, {true, true},
     "inside its partition table and system partition"},
    {"PhotoNoSource", Op::kPhoto, kNone, kBlank, {}, kMissing},
    {"PhotoWithoutPartition", Op::kPhoto, kRecorder, kBlank, {}, "doesn't have a Photo"},
    {"PhotoSystemDisk", Op::kPhoto, kPhotoDisk, kPc, {false}, "appears to be a System Disk"},
    {"PhotoDeclined", Op::kPhoto, kPhotoDisk, kBlank, {false}, "to the end of disk"},
    {"PhotoOverlapOnTheSameDrive", Op::kPhoto, kPhotoDisk, kPhotoDisk, {}, "range overlap"},
    {"PhotoLargerThanTarget", Op::kPhoto, kPhotoDisk, kTiny, {}, "(20480 blocks) is larger"},
    {"PhotoIntoTargetSystemPartition", Op::kPhoto, kPhotoDisk, kHuge, {}, "start at sector 79520"},
    {"PhotoSourceRangePastItsEnd", Op::kPhoto, kHuge, kBlank, {true},
     "runs past the end of the disk (100000 blocks)"},
    {"PatchNoDrive", Op::kPatch, kNone, kNone, {}, "You must select a disk first."},
    {"PatchSystemDisk", Op::kPatch, kPc, kNone, {}, "YOU CAN NOT PATCH A SYSTEM DISK"},
    {"PatchNotReplayTv", Op::kPatch, kBlank, kNone, {false}, "not seem to be a ReplayTV disk"},
    {"PatchAlreadyPatched", Op::kPatch, kRecorder, kNone, {false}, "already patched"},
    {"PatchDeclined", Op::kPatch, kPatchee, kNone, {false}, "You are about to patch disk"},
    {"PatchInvalidClusterSize", Op::kPatch, kPatchee, kNone, {true, false}, " is 513:", 0,
     kCluster513},
    {"PatchResetInvalidClusterSize", Op::kPatch, kPatchee, kNone, {true, true, false},
     " is 1048577:", 0, {kP2 + kSystemClusterSize, {0, 0x10, 0, 1}}},
    {"PatchNoSuperblock", Op::kPatch, kPatchee, kNone, {true, false}, "no superblock at cluster 1",
     0, {kP2 + kCluster + kHeaderKind, {0, 0, 0, 0}}},
    {"PatchRootCluster200", Op::kPatch, kPatchee, kNone, {true, true, false},
     "Root directory cluster number is not valid", 0,
     {kP2 + kCluster + kSuperRootCluster, {0, 0, 0, 0, 0, 0, 0, 200}}},
    {"PatchRootCrcLength999", Op::kPatch, kPatchee, kNone, {true, true, false},
     "Suspicious root directory block", 0, {kP2 + 3 * kCluster + kHeaderCrcLength, {0, 0, 3, 0xE7}}},
    {"PatchNoSignature", Op::kPatch, kPatchee, kNone, {true}, "has no signature", 0,
     {510, {0, 0}}},
    {"PatchSystemPartitionFillsTheDisk", Op::kPatch, kPatchee, kNone, {true, false},
     "The disk is too small", 0, {458, {0x98, 0x80, 0x1E, 0}}},  // entry 1: 1,999,000 sectors
    {"PatchDriveSmallerThanListed", Op::kPatch, kPatchee, kNone, {true, false},
     "The drive is smaller than the new layout", 0, {}, nullptr, 1500000},
    {"PatchPhotoLargerThanDrive", Op::kPatch, kPhotoDisk, kNone, {true, true, false, true},
     "too small for its system partition and its Photo partition", 39062528},
    {"JoinNoDrive1", Op::kJoin, kNone, kBlank, {}, "No drive 1 defined."},
    {"JoinDrive1SystemDisk", Op::kJoin, kPc, kBlank, {}, "Drive 1 of 2 appears to be a System"},
    {"JoinSameDrive", Op::kJoin, kRecorder, kRecorder, {}, "Drive 1 and Drive 2 MUST NOT be"},
    {"JoinNoDrive2", Op::kJoin, kRecorder, kNone, {}, "No drive 2 defined."},
    {"JoinDrive2SystemDisk", Op::kJoin, kRecorder, kPc, {false}, "Drive 2 of 2 appears"},
    {"JoinDrive1NotReplayTv", Op::kJoin, kBlank, kRecorder, {false}, "Drive 1 does not appear"},
    {"JoinDeclined", Op::kJoin, kRecorder, kBlank, {false}, "create a 2 drive system"},
    {"JoinInvalidClusterSize", Op::kJoin, kPatchee, kBlank, {true, false}, " is 513:", 0,
     kCluster513},
    {"JoinPhotoLargerThanDrive2", Op::kJoin, kPhotoDisk, kTiny, {true, false, true},
     "(204800 blocks) does not fit on drive 2", 204800},
    {"JoinDrive2SmallerThanListed", Op::kJoin, kRecorder, kPatchee, {true, false},
     "The drive is smaller than the new layout", 0, {}, nullptr, 1500000},
    {"BackupNotReplayTv", Op::kBackup, kBlank, kNone, {false}, "Source disk does not seem"},
    {"BackupCancelled", Op::kBackup, kRecorder, kNone, {}, ""},
    {"BackupToFifo", Op::kBackup, kRecorder, kNone, {}, "is not a regular file.", 0, {},
     "fifo.rtv"},
    {"BackupIntoMissingFolder", Op::kBackup, kRecorder, kNone, {},
     "Could not create a file in folder", 0, {}, "missing/new.rtv"},
    {"BackupOntoItsSource", Op::kBackup, kRecorder, kNone, {}, "is the source disk itself", 0, {},
     "recorder.img"},
    {"BackupOfAShortSource", Op::kBackup, kHuge, kNone, {true},
     "holds 100000 sectors; its backup needs", 0, {}, "new.rtv"},
    {"RestoreDeclined", Op::kRestore, kBlank, kNone, {false}, "OVERWRITE the contents"},
    {"RestoreCancelled", Op::kRestore, kBlank, kNone, {true}, ""},
    {"RestoreOntoAPcDisk", Op::kRestore, kPc, kNone, {false}, "Drive 2 contains non-ReplayTV"},
    {"RestoreEmptyFile", Op::kRestore, kBlank, kNone, {true}, "holds no ReplayTV partition block",
     0, {}, "empty.rtv"},
    {"Restore511Bytes", Op::kRestore, kBlank, kNone, {true},
     "is not a whole number of 512-byte sectors (511 bytes)", 0, {}, "odd.rtv"},
    {"RestoreDevNull", Op::kRestore, kBlank, kNone, {true}, "is not a regular file.", 0, {},
     "/dev/null"},
    {"RestoreTruncatedImage", Op::kRestore, kBlank, kNone, {true},
     "holds 14241 sectors; the system area its partition block describes needs 14242", 0, {},
     "short.rtv"},
    {"RestoreLargerThanTarget", Op::kRestore, kTiny, kNone, {true},
     "holds 14242 sectors; target drive", 0, {}, "good.rtv"},
    {"VerifySameDrive", Op::kVerifyPhoto, kPhotoDisk, kPhotoDisk, {}, kSame},
    {"VerifyWithoutPhotoPartition", Op::kVerifyPhoto, kRecorder, kBlank, {}, "Nothing to compare"},
};

class RefusalTest : public OpsTest {
 protected:
  void MakeDrives() {
    ASSERT_TRUE(MakeReplayTvDisk(Image("recorder.img"), Recorder(2000000)));
    ASSERT_TRUE(MakeBlankImage(Image("blank.img"), 4000000));
    ASSERT_TRUE(MakePcDisk(Image("pc.img"), 8192, PcDisk::kNtfs));
    ASSERT_TRUE(MakeReplayTvDisk(Image("photo.img"),
                                 Recorder(1000000, true, 0, 20480)));
    ASSERT_TRUE(MakeReplayTvDisk(Image("small.img"), Recorder(1000000)));
    ASSERT_TRUE(MakeBlankImage(Image("tiny.img"), 2048));
    ASSERT_TRUE(MakeBlankImage(Image(kDrives[kHuge]), 100000));
    Sector block = EmptyPartitionBlock();
    WritePartitionEntry(block, 1, {kRecorderPartitionType, 2, 0xFFFFF000u});
    WritePartitionEntry(block, 2, {kRecorderPartitionType, 0xFFFFF002u, 1000});
    WritePartitionEntry(block, 3, {kRecorderPartitionType, 79521, 20480});
    ASSERT_TRUE(WriteSectors(Image(kDrives[kHuge]), 0, block));
    ReplayTvDisk patchee = Recorder(2000000, false, 1000000);
    patchee.stale_pair_block = true;
    ASSERT_TRUE(MakeReplayTvDisk(Image("patch.tpl"), patchee));
    WriteFile(Image("empty.rtv"), {});
    WriteFile(Image("odd.rtv"), std::vector<uint8_t>(511, 0x4D));
    WriteFile(Image("short.rtv"), ReadSectors(Image("recorder.img"), 0, 14241));
    WriteFile(Image("good.rtv"), ReadSectors(Image("recorder.img"), 0, 14242));
    ASSERT_EQ(::mkfifo(Image("fifo.rtv").c_str(), 0644), 0);
  }
};

TEST_F(RefusalTest, LeavesEveryImageAndFileAsItWas) {
  MakeDrives();
  for (const Refusal& row : kRefusals) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(CopyImage(Image("patch.tpl"), Image("patch.img")));
    if (!row.poke.bytes.empty()) {
      ASSERT_TRUE(WriteBytes(Image("patch.img"), row.poke.offset, row.poke.bytes));
    }
    UseDrives(kDrives);
    if (row.cut != 0) {
      ASSERT_EQ(::truncate(Image("patch.img").c_str(), static_cast<off_t>(row.cut * 512)), 0);
    }
    Snapshot(false);
    std::map<std::string, uint64_t> folder = Folder();
    NewFrontEnd();
    Answer(row.answers);
    if (row.file == nullptr) {
      ui().CancelFileChoice();
    } else {
      ui().ChooseFileAnswer(row.file[0] == '/' ? row.file : Image(row.file));
    }
    OperationStarts() = 0;
    EXPECT_EQ(RunOp(row.op, row.a, row.b, row.photo), -1);
    EXPECT_EQ(ui().unanswered(), 0u);
    EXPECT_TRUE(Unchanged());
    EXPECT_EQ(Folder(), folder);
    EXPECT_EQ(OperationStarts(), 0);
    EXPECT_FALSE(ClaimedDone());
    EXPECT_THAT(ui().boxes().empty() ? LastQuestion() : LastBox(), HasSubstr(row.says))
        << ui().Transcript();
  }
}

// Two names of one disk are one drive of the list, and never the two drives of an operation,
// however the table came to hold them: refused with the box, before any question.
TEST_F(RefusalTest, TwoNamesOfOneDiskAreNeverTwoDrivesOfAnOperation) {
  ASSERT_TRUE(MakeReplayTvDisk(Image("disk.tpl"), Recorder(200000)));
  for (const DiskAlias& alias : DiskAliases()) {
    SCOPED_TRACE(alias.name);
    if (alias.needs_root && ::geteuid() != 0)
      continue;
    std::filesystem::remove_all(Image("recorder.img~"));
    ASSERT_TRUE(CopyImage(Image("disk.tpl"), Image("recorder.img")));
    std::list<LoopDevice> loops;
    auto [a, b] = alias.names(Image("recorder.img"), &loops);
    ASSERT_FALSE(a.empty() || b.empty()) << "the names could not be made";
    NewFrontEnd();
    UseDrives({a, b});
    paths_ = {Image("recorder.img")};
    Snapshot(false);
    if (!alias.overlapping) {
      EXPECT_EQ(Drive(1).size_sectors, 0u) << "left out of the drive list";
      Drive(1) = Drive(0);
      Drive(1).device_path = b;
    }
    for (Op op : {Op::kMirror, Op::kMpeg, Op::kPhoto, Op::kJoin}) {
      EXPECT_EQ(RunOp(op, 0, 1), -1);
      EXPECT_THAT(LastBox(), HasSubstr(alias.overlapping ? " overlap: they share sectors"
                                                         : " are the same disk under two names"));
    }
    EXPECT_TRUE(ui().questions().empty()) << ui().Transcript();
    EXPECT_TRUE(Unchanged());
  }
}

// A recorder cannot use a drive of 4096-byte sectors: it is read as a source, never written.
TEST_F(RefusalTest, DriveOf4096ByteSectorsIsReadButNeverWritten) {
  ASSERT_TRUE(MakeReplayTvDisk(Image("recorder.img"), Recorder(200000)));
  ASSERT_TRUE(MakeBlankImage(Image("blank.img"), 400000));
  UseDrives({"blank.img", "recorder.img"});
  Drive(1).sector_bytes = 4096;
  NewFrontEnd();
  Snapshot(false);
  for (auto [op, a, b] : std::vector<std::tuple<Op, int, int>>{{Op::kMirror, 0, 1},
                                                                {Op::kMpeg, 0, 1},
                                                                {Op::kPhoto, 0, 1},
                                                                {Op::kJoin, 0, 1},
                                                                {Op::kJoin, 1, 0},
                                                                {Op::kPatch, 1, -1},
                                                                {Op::kRestore, 1, -1}}) {
    EXPECT_EQ(RunOp(op, a, b), -1);
    EXPECT_THAT(LastBox(), HasSubstr("has 4096-byte sectors.\nA ReplayTV recorder can only"));
  }
  EXPECT_TRUE(ui().questions().empty()) << ui().Transcript();
  ui().Answer(false);
  EXPECT_EQ(RunOp(Op::kMirror, 1, 0), -1);
  EXPECT_THAT(LastQuestion(), HasSubstr("You are about to mirror disk"));
  EXPECT_TRUE(Unchanged());
}

}  // namespace
}  // namespace quillmar::testing
