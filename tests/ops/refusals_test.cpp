// Every refusal and every "no" of every operation leaves every image, and every file of its
// folder, byte-identical, after exactly the questions of its path and the box that says why.
#include <sys/stat.h>

#include <gmock/gmock.h>

#include "disk/unique_fd.h"
#include "format/checksum.h"
#include "format/fs_blocks.h"
#include "format/partition_block.h"
#include "tests/ops/ops_harness.h"
#include "tests/support/disk_aliases.h"

namespace quillmar::testing {
namespace {

using ::testing::HasSubstr;

// kHuge claims a partition 1 of 4 billion sectors and a partition 3 one sector past its end;
// kOld is an unpatched recorder disk (whose superblock gets a CRC length the patch cannot reseal
// once it is copied), kCut one listed at 2,000,000 sectors that holds 1,500,000, kWide one of
// 4096-byte sectors; the others after kWide are kOld with one value changed.
constexpr int kRec = 0, kBlank = 1, kPc = 2, kRtv = 3, kSmall = 4, kTiny = 5, kHuge = 6, kOld = 7,
              kCut = 8, kWide = 9, k513 = 10, kNoSuper = 11, kNoSignature = 12, kP1Fills = 13,
              kHighCount = 14, kOtherSize = 15, kNone = -1;
constexpr uint64_t kP2 = 4002 * 512, kCluster = 262144;  // partition 2 of kOld, in bytes
const std::pair<uint64_t, std::vector<uint8_t>> kPokes[] = {
    {kP2 + kSystemClusterSize, {0, 0, 2, 1}},
    {kP2 + kCluster + kHeaderKind, {0, 0, 0, 0}},
    {510, {0, 0}},
    {458, {0x98, 0x80, 0x1E, 0}},  // entry 1: 1,999,000 sectors
    {kP2 + kCluster + kSuperClusterCount, {0, 0, 0, 1}},
    {kP2 + kCluster + kSuperClusterSize, {0, 8, 0, 0}},
    {kP2 + kCluster + kHeaderCrcLength, {0, 0, 2, 0x58}}};  // kOld's

struct Refusal {
  const char* name;
  Op op;
  int a, b;
  const char* answers;
  const char* says;  // in the last box, or in the last question when no box was shown
  uint32_t photo = 0;
  const char* file = nullptr;  // chosen by a backup or restore (nullptr: the choice cancelled)
};

const char* const kWideSays = "has 4096-byte sectors.\nA ReplayTV recorder can only use";

const Refusal kRefusals[] = {
    {"MirrorNoTarget", kMirror, kRec, kNone, "", "You must specify a source"},
    {"MirrorSameDrive", kMirror, kBlank, kBlank, "", "Source and Target disks MUST NOT be the"},
    {"MirrorNotReplayTv", kMirror, kBlank, kRec, "N", "Source disk does not seem"},
    {"MirrorBigger", kMirror, kRec, kSmall, "N", "BIGGER THAN Target disk"},
    {"MirrorSystemDisk", kMirror, kSmall, kPc, "N", "appears to be a System Disk"},
    {"MirrorDeclined", kMirror, kRec, kBlank, "N", "WILL DESTROY ALL DATA ON DISK"},
    {"MirrorSystemAreaPastItsDisk", kMirror, kHuge, kBlank, "", "huge\\x0asystem.img (4294973442"},
    {"MirrorOntoSmallerDisk", kMirror, kRec, kTiny, "Y", "(14242 blocks) is larger"},
    {"MirrorOntoWideSectors", kMirror, kRec, kWide, "", kWideSays},
    {"MirrorFromWideSectorsDeclined", kMirror, kWide, kBlank, "N", "You are about to mirror"},
    {"MpegTargetNotReplayTv", kMpeg, kRec, kBlank, "N", "Target disk does not seem"},
    {"MpegSmallerRange", kMpeg, kRec, kSmall, "YYN", "BIGGER THAN 2nd"},
    {"MpegDeclined", kMpeg, kSmall, kRec, "N", "DESTROY ALL CURRENT DATA"},
    {"MpegStartBeyondTarget", kMpeg, kRec, kTiny, "YY", "beyond the end of disk"},
    {"MpegOntoOtherPartition2Start", kMpeg, kRec, kHuge, "Y", "would overwrite"},
    {"MpegSourcePartition2InItsSystemArea", kMpeg, kBlank, kRec, "YY", "inside its partition"},
    {"PhotoWithoutPartition", kPhoto, kRec, kBlank, "", "doesn't have a Photo"},
    {"PhotoDeclined", kPhoto, kRtv, kBlank, "N", "to the end of disk"},
    {"PhotoOverlapOnTheSameDrive", kPhoto, kRtv, kRtv, "", "range overlap"},
    {"PhotoLargerThanTarget", kPhoto, kRtv, kTiny, "", "(20480 blocks) is larger"},
    {"PhotoIntoTargetSystemPartition", kPhoto, kRtv, kHuge, "", "start at sector 79520"},
    {"PhotoSourceRangePastItsEnd", kPhoto, kHuge, kBlank, "Y", "past the end of the disk"},
    {"PhotoOntoWideSectors", kPhoto, kRtv, kWide, "", kWideSays},
    {"PatchSystemDisk", kPatch, kPc, kNone, "", "YOU CAN NOT PATCH A SYSTEM DISK"},
    {"PatchNotReplayTv", kPatch, kBlank, kNone, "N", "not seem to be a ReplayTV disk"},
    {"PatchAlreadyPatched", kPatch, kRec, kNone, "N", "already patched"},
    {"PatchDeclined", kPatch, kOld, kNone, "N", "You are about to patch disk"},
    {"PatchInvalidClusterSize", kPatch, k513, kNone, "YN", "cluster size of partition 2 is 513"},
    {"PatchNoSuperblock", kPatch, kNoSuper, kNone, "YN", "no superblock at cluster 1"},
    {"PatchNoSignature", kPatch, kNoSignature, kNone, "Y", "has no signature"},
    {"PatchClusterCountPast2To32", kPatch, kHighCount, kNone, "YN", "high half of its cluster c"},
    {"PatchSuperblockOfOtherClusters", kPatch, kOtherSize, kNone, "YN", "cluster size is 524288"},
    {"PatchUnsealableSuperblock", kPatch, kOld, kNone, "YN", "Suspicious FAT block"},
    {"PatchSystemPartitionFillsTheDisk", kPatch, kP1Fills, kNone, "YN", "disk is too small"},
    {"PatchDriveSmallerThanListed", kPatch, kCut, kNone, "YN", "smaller than the new layout"},
    {"PatchPhotoLargerThanDrive", kPatch, kRtv, kNone, "YYNY", "and its Photo", 39062528},
    {"PatchKeepingShrinksTheRecordings", kPatch, kRtv, kNone, "YYNYN", "shrinks from 975518 to",
     40960},
    {"PatchWideSectors", kPatch, kWide, kNone, "", kWideSays},
    {"JoinDrive1SystemDisk", kJoin, kPc, kBlank, "", "Drive 1 of 2 appears to be a System"},
    {"JoinSameDrive", kJoin, kRec, kRec, "", "Drive 1 and Drive 2 MUST NOT be the same"},
    {"JoinNoDrive2", kJoin, kRec, kNone, "", "No drive 2 defined."},
    {"JoinDrive2SystemDisk", kJoin, kRec, kPc, "N", "Drive 2 of 2 appears"},
    {"JoinDrive1NotReplayTv", kJoin, kBlank, kRec, "N", "Drive 1 does not appear"},
    {"JoinDeclined", kJoin, kRec, kBlank, "N", "create a 2 drive system"},
    {"JoinInvalidClusterSize", kJoin, k513, kBlank, "YN", "cluster size of partition 2 is 513"},
    {"JoinPhotoLargerThanDrive2", kJoin, kRtv, kTiny, "YNY", "does not fit on drive 2", 204800},
    {"JoinDrive2SmallerThanListed", kJoin, kRec, kCut, "YYN", "smaller than the new layout"},
    {"JoinDrive2WideSectors", kJoin, kRec, kWide, "", kWideSays},
    {"BackupNotReplayTv", kBackup, kBlank, kNone, "N", "Source disk does not seem"},
    {"BackupToFifo", kBackup, kRec, kNone, "", "is not a regular file.", 0, "fifo.rtv"},
    {"BackupIntoMissingFolder", kBackup, kRec, kNone, "", "Could not create a file", 0, "no/b.rtv"},
    {"BackupOntoItsSource", kBackup, kRec, kNone, "", "is the source disk itself", 0, "rec.img"},
    {"BackupOntoAFileBeingWritten", kBackup, kRec, kNone, "", "is being written by another", 0,
     "held.rtv"},
    {"BackupOfAShortSource", kBackup, kHuge, kNone, "Y", "100000 sectors; its backup", 0, "b.rtv"},
    {"RestoreDeclined", kRestore, kBlank, kNone, "N", "OVERWRITE the contents"},
    {"RestoreCancelled", kRestore, kBlank, kNone, "Y", ""},
    {"RestoreOntoAPcDisk", kRestore, kPc, kNone, "N", "Drive 2 contains non-ReplayTV"},
    {"RestoreOntoWideSectors", kRestore, kWide, kNone, "", kWideSays},
    {"RestoreEmptyFile", kRestore, kBlank, kNone, "Y", "holds no ReplayTV partition", 0, "e.rtv"},
    {"Restore511Bytes", kRestore, kBlank, kNone, "Y", "512-byte sectors (511 bytes)", 0, "o.rtv"},
    {"RestoreTruncatedImage", kRestore, kBlank, kNone, "Y", "14241 sectors; the system", 0,
     "s.rtv"},
    {"RestoreLargerThanTarget", kRestore, kTiny, kNone, "Y", "14242 sectors; target", 0, "g.rtv"},
};

using RefusalTest = OpsTest;

TEST_F(RefusalTest, LeavesEveryImageAndFileAsItWas) {
  ASSERT_TRUE(MakeReplayTvDisk(Image("rec.img"), Recorder(2000000)));
  ASSERT_TRUE(MakeBlankImage(Image("blank.img"), 4000000));
  ASSERT_TRUE(MakePcDisk(Image("pc.img"), 8192, PcDisk::kNtfs));
  ASSERT_TRUE(MakeReplayTvDisk(Image("rtv.img"), Recorder(1000000, true, 0, 20480)));
  ASSERT_TRUE(MakeReplayTvDisk(Image("small.img"), Recorder(1000000)));
  ASSERT_TRUE(MakeBlankImage(Image("tiny.img"), 2048));
  ASSERT_TRUE(MakeBlankImage(Image("huge\nsystem.img"), 100000));
  Sector block = EmptyPartitionBlock();
  WritePartitionEntry(block, 1, {kRecorderPartitionType, 2, 0xFFFFF000u});
  WritePartitionEntry(block, 2, {kRecorderPartitionType, 0xFFFFF002u, 1000});
  WritePartitionEntry(block, 3, {kRecorderPartitionType, 79521, 20480});
  ASSERT_TRUE(WriteSectors(Image("huge\nsystem.img"), 0, block));
  ReplayTvDisk old_layout = Recorder(2000000, false, 1000000);
  old_layout.stale_pair_block = true;
  ASSERT_TRUE(MakeReplayTvDisk(Image("old.img"), old_layout));
  const std::vector<std::string> drives = {
      "rec.img",          "blank.img", "pc.img",   "rtv.img",  "small.img", "tiny.img",
      "huge\nsystem.img", "old.img",   "cut.img",  "wide.img", "513.img",   "nosuper.img",
      "nosig.img",        "p1.img",    "high.img", "size.img"};
  for (int i = kCut; i <= kOtherSize; ++i) {
    ASSERT_TRUE(CopyImage(Image("old.img"), Image(drives[i])));
    if (i >= k513) {
      ASSERT_TRUE(WriteBytes(Image(drives[i]), kPokes[i - k513].first, kPokes[i - k513].second));
    }
  }
  ASSERT_TRUE(WriteBytes(Image("old.img"), kPokes[6].first, kPokes[6].second));
  WriteFile(Image("e.rtv"), {});
  WriteFile(Image("o.rtv"), std::vector<uint8_t>(511, 0x4D));
  WriteFile(Image("s.rtv"), ReadSectors(Image("rec.img"), 0, 14241));
  WriteFile(Image("g.rtv"), ReadSectors(Image("rec.img"), 0, 14242));
  ASSERT_EQ(::mkfifo(Image("fifo.rtv").c_str(), 0644), 0);
  WriteFile(Image("held.rtv"), {'o'});
  UniqueFd held = UniqueFd::Open(Image("held.rtv"), OpenMode::kReadWrite);  // as another run
  UseDrives(drives);
  ASSERT_EQ(::truncate(Image("cut.img").c_str(), off_t{1500000} * 512), 0);
  DriveAt(kWide).sector_bytes = 4096;
  std::map<std::string, uint64_t> folder = Folder();
  for (const Refusal& row : kRefusals) {
    SCOPED_TRACE(row.name);
    NewFrontEnd();
    Answer(row.answers);
    row.file == nullptr ? ui().CancelFileChoice() : ui().ChooseFileAnswer(Image(row.file));
    EXPECT_EQ(RunOp(row.op, row.a, row.b, row.photo), -1);
    EXPECT_EQ(ui().unanswered(), 0u);
    EXPECT_EQ(Folder(), folder);  // every image and file byte-identical
    EXPECT_EQ(operation_starts, 0);
    EXPECT_FALSE(ClaimedDone());
    EXPECT_THAT(ui().boxes().empty() ? LastAsked() : LastBox(), HasSubstr(row.says))
        << ui().Transcript();
  }
}

// A Photo partition is not copied where the patch would not find it (a target whose Photo
// partition has another length), nor onto drive 1 of a two-drive system, whose end holds
// recordings; nothing is copied from that drive, whose partitions run on onto drive 2 (also past
// 137 GB). A disk without a system partition (drive 2) is not patched, nor joined as drive 1;
// patching drive 1 alone or joining it with another drive 2 (which leaves the system), joining a
// recorder's disk or a pair's drive as drive 2 (perhaps drive 1's partner: asked as such) and
// moving a Photo partition kept unformatted to where none was copied are asked first.
TEST_F(RefusalTest, CopiesPatchesAndJoinsRespectTheLayoutOfPairs) {
  ASSERT_TRUE(MakeReplayTvDisk(Image("rtv.img"), Recorder(1000000, true, 0, 20480)));
  ASSERT_TRUE(MakeReplayTvDisk(Image("other.img"), Recorder(2000000, true, 0, 40960)));
  ASSERT_TRUE(MakeReplayTvPair(Image("pair1.img"), Image("pair2.img"),
                               Recorder(1000000, true, 0, 20480), 1000000));
  // Drive 1 over 137 GB: its partition 2 ends inside it, past the part the join gave it.
  ASSERT_TRUE(MakeReplayTvPair(Image("big1.img"), Image("big2.img"),
                               Recorder(500000000, false, k137GbSectors + 40000000 - 2), 40000000));
  ASSERT_TRUE(MakeBlankImage(Image("blank.img"), 2000000));
  ASSERT_TRUE(CopyImage(Image("pair1.img"), Image("copy1.img")));  // as mirrored onto a larger disk
  ASSERT_EQ(::truncate(Image("copy1.img").c_str(), off_t{1500000} * 512), 0);
  UseDrives(
      {"rtv.img", "other.img", "pair1.img", "pair2.img", "big1.img", "blank.img", "copy1.img"});
  std::map<std::string, uint64_t> folder = Folder();
  const std::string pair_source = " is drive 1 of a two-drive system: its partitions run on";
  const std::string no_system = "Partition 1 is not a recorder's system partition";
  const std::tuple<Op, int, int, const char*, std::string> rows[] = {
      {kPhoto, 0, 1, "", "has 40960 blocks, that of disk "},
      {kPhoto, 0, 2, "", " is drive 1 of a two-drive system: a Photo"},
      {kPhoto, 2, 0, "", pair_source},
      {kMpeg, 2, 0, "", pair_source},
      {kMpeg, 4, 0, "", pair_source},
      {kPatch, 2, -1, "N", "is drive 1 of a two-drive system. Patched alone"},
      {kPatch, 3, -1, "YY", no_system},
      {kJoin, 3, 2, "YYY", no_system},
      {kJoin, 1, 0, "N", "belongs to a recorder already"},
      {kJoin, 0, 3, "N", "belongs to a recorder already"},
      {kJoin, 2, 3, "N", "If it\nis drive 1's own partner, joined again it keeps"},
      {kJoin, 2, 5, "N", "Joined with another\ndrive 2, it leaves its system"},
      {kJoin, 6, 3, "N", "belongs to a recorder already"},
      {kJoin, 0, 5, "YNNN", "No Photo file system lies where partition 3 moves to"}};
  for (const auto& [op, a, b, answers, says] : rows) {
    NewFrontEnd();
    Answer(answers);
    EXPECT_EQ(RunOp(op, a, b), -1);
    EXPECT_EQ(ui().unanswered(), 0u);
    EXPECT_THAT(ui().boxes().empty() ? LastAsked() : LastBox(), HasSubstr(says))
        << ui().Transcript();
  }
  EXPECT_EQ(Folder(), folder);
}

// Two names of one disk are one drive of the list, and never the two drives of an operation,
// however the table came to hold them: refused with the box, before any question.
TEST_F(RefusalTest, TwoNamesOfOneDiskAreNeverTwoDrivesOfAnOperation) {
  ASSERT_TRUE(MakeReplayTvDisk(Image("disk.tpl"), Recorder(200000)));
  std::string unmade;  // names that need loop devices, which only root can attach
  for (const DiskAlias& alias : DiskAliases()) {
    SCOPED_TRACE(alias.name);
    std::filesystem::remove_all(Image("rec.img~"));
    ASSERT_TRUE(CopyImage(Image("disk.tpl"), Image("rec.img")));
    std::list<LoopDevice> loops;
    auto [a, b] = alias.names(Image("rec.img"), &loops);
    if (a.empty() || b.empty()) {
      unmade += std::string(alias.name) + " ";
      continue;
    }
    UseDrives({a, b});
    std::map<std::string, uint64_t> folder = Folder();
    NewFrontEnd();
    if (!alias.overlapping) {
      DriveAt(1) = DriveAt(0);
      DriveAt(1).device_path = b;
    }
    for (Op op : {kMirror, kMpeg, kPhoto, kJoin}) {
      EXPECT_EQ(RunOp(op, 0, 1), -1);
      EXPECT_THAT(LastBox(), HasSubstr(alias.overlapping ? " overlap: they share sectors"
                                                         : " are the same disk under two names"));
    }
    EXPECT_TRUE(ui().questions().empty()) << ui().Transcript();
    EXPECT_EQ(Folder(), folder);
  }
  if (!unmade.empty())
    GTEST_SKIP() << "could not make these names here: " << unmade;
}

}  // namespace
}  // namespace quillmar::testing
