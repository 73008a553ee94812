// The operations that finish: where the patch puts the partitions, and scenarios of copies,
// patches, joins, backups and restores on image files, each step allowed to change only its own
// sectors and its result read back with the format layer's readers and the inspector.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "base/settings.h"
#include "format/fs_blocks.h"
#include "format/partition_block.h"
#include "ops/inspector.h"
#include "ops/patch_layout.h"
#include "tests/ops/ops_harness.h"

namespace quillmar::testing {
namespace {

struct LayoutRow {
  uint32_t first, second, reserve, p1, photo;
  bool formats_photo;
  bool refused;
};

// The partitions end exactly at the end of the joined space, less drive 2's reserve.
TEST(PatchLayoutTest, FillsTheSpaceAndRefusesWhatDoesNotFit) {
  const LayoutRow rows[] = {
      {14242, 0, 0, 4000, 0, false, false},          // the smallest partition 2
      {14241, 0, 0, 4000, 0, false, true},           // one sector short of it
      {3000, 0, 0, 4000, 0, false, true},            // smaller than its system partition
      {1000000, 100000, 2, 4000, 100000, false, true},  // the Photo partition begins on drive 1
      {1000000, 100000, 2, 4000, 99998, true, false},   // it just fits on drive 2
      {1000000, 0, 0, 4000, 143, true, true},  // too small for its nine metadata clusters
      {1000000, 0, 0, 4000, 144, true, false},
      {1000000, 0, 0, 4000, 143, false, false},  // not formatted: any size
  };
  for (const LayoutRow& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.first << "+" << row.second << " photo " << row.photo);
    PatchLayout layout = PlanPatchLayout(row.first, row.second, row.reserve, row.p1, row.photo);
    EXPECT_EQ(layout.p2start, row.p1 + 2);
    EXPECT_EQ(layout.p2start + layout.p2len + layout.photo,
              int64_t{row.first} + row.second - row.reserve);
    EXPECT_EQ(layout.p3start, row.photo == 0 ? 0 : layout.p2start + layout.p2len);
    std::string refusal =
        CheckPatchLayout(layout, row.first, row.second, row.reserve, row.formats_photo);
    EXPECT_EQ(refusal.empty(), !row.refused) << refusal;
  }
}

TEST(PatchLayoutTest, ClusterSizesFollowTheLadderOrARealOverride) {
  const std::tuple<int64_t, int32_t, uint32_t> mpeg[] = {
      {67108863, 0, 262144},        {67108864, 0, 524288},       {134217727, 0, 524288},
      {134217728, 0, 1048576},      {268435455, 0, 1048576},     {268435456, 0, 2097152},
      {2097152, 2097152, 2097152},  {2097151, 2097152, 262144},  {500000, 1025, 1024},
      {500000, 1536, 262144},       {500000, 512, 262144},       {500000, -4096, 262144},
      {534773756, 4194304, 2097152}};
  for (auto [p2len, override_bytes, bytes] : mpeg)
    EXPECT_EQ(ChooseMpegClusterSize(p2len, override_bytes).bytes, bytes) << p2len << " " << override_bytes;
  const std::pair<int64_t, uint32_t> photo[] = {
      {299999, 8192}, {300000, 16384}, {599999, 16384}, {600000, 32768}, {1200000, 65536}};
  for (auto [sectors, bytes] : photo)
    EXPECT_EQ(PhotoClusterSize(sectors), bytes) << sectors;
}

enum class Mpeg { kKeep, kReset, kReformat };

struct PatchRow {
  const char* name;
  ReplayTvDisk disk;
  Mpeg action;
  bool format_photo;
  uint32_t photo_request;
  int32_t override_bytes;
  uint32_t cluster_size;  // of the MPEG file system afterwards
  uint32_t p2len;
  uint32_t photo;  // length of partition 3 afterwards
};

ReplayTvDisk WithOldClusters(ReplayTvDisk disk) {
  disk.mpeg_cluster_size = 131072;
  return disk;
}

using PatchTest = OpsTest;

// Each row patches a fresh disk whose partition block also holds a stale fourth entry.
TEST_F(PatchTest, PartitionsFillTheDiskAndTheFileSystemsVerify) {
  const ReplayTvDisk old_layout = Recorder(2000000, false, 1000000);
  const ReplayTvDisk photo_disk = Recorder(2000000, true, 1500000, 409600);
  const PatchRow rows[] = {
      {"Keep", old_layout, Mpeg::kKeep, false, 0, 0, 262144, 1995998, 0},
      {"Reset", old_layout, Mpeg::kReset, false, 0, 0, 262144, 1995998, 0},
      {"Reformat", WithOldClusters(old_layout), Mpeg::kReformat, false, 0, 0, 262144, 1995998, 0},
      {"ReformatWithOverride", WithOldClusters(old_layout), Mpeg::kReformat, false, 0, 1025, 1024,
       1995998, 0},
      {"StandardLimitedTo137Gb", Recorder(300000000, false, 100000000), Mpeg::kKeep, false, 0, 0,
       262144, 267386880 - 4002, 0},
      {"Rtv4000NeverLimited", Recorder(300000000, true, 100000000), Mpeg::kKeep, false, 0, 0,
       262144, 300000000 - 4002, 0},
      {"PhotoReformattedAsAsked", photo_disk, Mpeg::kKeep, true, 204800, 0, 262144,
       2000000 - 4002 - 204800, 204800},
  };
  for (const PatchRow& row : rows) {
    SCOPED_TRACE(row.name);
    bool rtv4000 = row.disk.rtv4000;
    ASSERT_TRUE(MakeReplayTvDisk(Image("disk.img"), row.disk));
    Sector block = ReadSector(Image("disk.img"), 0, rtv4000);
    WritePartitionEntry(block, 4, {0x83, 1999000, 7});
    if (rtv4000) {
      Rtv4000Byteswap(block);
    }
    ASSERT_TRUE(WriteSectors(Image("disk.img"), 0, block));
    UseDrives({"disk.img"});
    NewFrontEnd();
    g_mpegClusterOverride = row.override_bytes;
    std::vector<bool> answers = {true, row.action != Mpeg::kKeep};
    if (row.action != Mpeg::kKeep)
      answers.push_back(row.action == Mpeg::kReformat);
    if (row.disk.photo_sectors != 0)
      answers.push_back(row.format_photo);
    std::vector<SectorRun> may = PatchRuns(4002, 512, row.action == Mpeg::kReset);
    if (row.action == Mpeg::kReformat)
      may = {{0, 2}, {4002, 10240}};
    uint32_t p3 = 4002 + row.p2len;
    if (row.format_photo)
      may.push_back({p3, row.photo});
    Step(Op::kPatch, 0, -1, row.photo_request, answers, {{0, may}});

    block = ReadSector(Image("disk.img"), 0, rtv4000);
    PartitionEntry p2 = ReadPartitionEntry(block, 2), p3_entry = ReadPartitionEntry(block, 3);
    EXPECT_EQ(p2.start, 4002u);
    EXPECT_EQ(p2.length, row.p2len);
    EXPECT_EQ(p3_entry.length, row.photo);
    EXPECT_EQ(p3_entry.start, row.photo == 0 ? 0 : p3);
    PartitionEntry p4 = ReadPartitionEntry(block, 4);
    EXPECT_EQ(p4.type + p4.start + p4.length, 0u) << "the stale fourth entry is cleared";
    InspectionReport report = InspectDrive(Image("disk.img"));
    EXPECT_TRUE(report.verified) << RenderInspection(report);
    EXPECT_EQ(report.mpeg.cluster_size, row.cluster_size);
    EXPECT_EQ(report.mpeg.cluster_count, row.p2len / (row.cluster_size / 512));
    EXPECT_EQ(report.mpeg.superblock_cluster_count, report.mpeg.cluster_count);
    if (row.action == Mpeg::kReset) {
      FsBlock root = ReadFsBlock(Image("disk.img"), 4002 * 512 + 3 * 262144, rtv4000);
      EXPECT_TRUE(std::all_of(root.begin() + kDirSlots, root.end(), [](uint8_t b) {
        return b == 0xFF;
      })) << "the root directory is empty";
    }
    EXPECT_TRUE(Drive(0).patched);
  }
}

// Two drives joined: partition 2 over both, the Photo partition formatted at the end of drive 2,
// a standard-order drive 2 limited to 137 GB; the pair verifies and lists as disks 1 and 2 of 2.
TEST_F(PatchTest, JoinedDrivesVerifyAsOnePair) {
  struct JoinRow {
    const char* name;
    ReplayTvDisk first;
    uint64_t second_sectors;
    uint32_t photo;  // asked for and formatted
    uint32_t p2len;
  };
  const JoinRow rows[] = {
      {"Standard", Recorder(160086528, false, 1000000), 300000000, 0,
       160086528 + 267386880 - 4004},
      {"Rtv4000WithPhoto", Recorder(2000000, true, 1000000, 20480), 1000000, 204800,
       3000000 - 4004 - 204800},
  };
  for (const JoinRow& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(MakeReplayTvDisk(Image("one.img"), row.first));
    ASSERT_TRUE(MakeBlankImage(Image("two.img"), row.second_sectors));
    UseDrives({"one.img", "two.img"});
    NewFrontEnd();
    uint64_t photo_start = row.second_sectors - row.photo;
    std::vector<bool> answers = {true, false};
    if (row.photo != 0)
      answers.push_back(true);
    Step(Op::kJoin, 0, 1, row.photo, answers,
         {{0, PatchRuns(4002, 512)}, {1, {{0, 2}, {photo_start, row.photo}}}});
    PartitionEntry p2 = ReadPartitionEntry(ReadSector(Image("one.img"), 0, row.first.rtv4000), 2);
    EXPECT_EQ(p2.start, 4002u);
    EXPECT_EQ(p2.length, row.p2len);
    InspectionReport report = InspectDrive(Image("one.img"), Image("two.img"));
    EXPECT_TRUE(report.verified) << RenderInspection(report);
    EXPECT_EQ(report.mpeg.cluster_count, row.p2len / 512);
    EXPECT_EQ(report.photo.present, row.photo != 0);
    if (row.photo != 0) {
      EXPECT_EQ(report.photo.device_path, Image("two.img"));
      EXPECT_EQ(report.photo.start_sector, photo_start);
    }
    EXPECT_TRUE(InspectDrive(Image("two.img")).verified);
    EXPECT_EQ(Drive(0).dual_position, 1);
    EXPECT_EQ(Drive(1).dual_position, 2);
  }
}

// The whole upgrade of a standard disk: mirror, copy the recordings, patch (keep).
TEST_F(PatchTest, StandardDiskMovesToALargerDiskKeepingItsRecordings) {
  ReplayTvDisk old_disk = Recorder(200000);
  old_disk.recordings = {{30000, 2048}, {199000, 1000}};
  old_disk.stale_pair_block = true;
  ASSERT_TRUE(MakeReplayTvDisk(Image("old.img"), old_disk));
  ASSERT_TRUE(MakeBlankImage(Image("new.img"), 400000));
  UseDrives({"old.img", "new.img"});
  Step(Op::kMirror, 0, 1, 0, {true}, {{1, {{0, 14242}}}});
  EXPECT_EQ(Drive(1).dual_position, 1) << "the stale pair block came along";
  Step(Op::kMpeg, 0, 1, 0, {true}, {{1, {{4002, 200000 - 4002}}}});
  Step(Op::kPatch, 1, -1, 0, {true, false}, {{1, PatchRuns(4002, 512)}});
  EXPECT_TRUE(Drive(1).patched);
  EXPECT_EQ(Drive(1).dual_position, 0);
  InspectionReport report = InspectDrive(Image("new.img"));
  EXPECT_TRUE(report.verified) << RenderInspection(report);
  EXPECT_EQ(report.mpeg.cluster_count, (400000u - 4002u) / 512u);
  EXPECT_TRUE(HasPattern(Image("new.img"), 2, 4000, Pattern::kSystem, 2));
  EXPECT_TRUE(HasPattern(Image("new.img"), 30000, 2048, Pattern::kRecording, 30000));
  EXPECT_TRUE(HasPattern(Image("new.img"), 199000, 1000, Pattern::kRecording, 199000));
}

// An RTV4000 disk with a Photo partition: the Photo copy ends at the target's last sector and
// the patch keeps it there; a second patch reformats it with a new size.
TEST_F(PatchTest, Rtv4000PhotoPartitionMovesToTheEndOfTheLargerDisk) {
  ReplayTvDisk old_disk = Recorder(300000, true, 0, 20480);
  old_disk.recordings = {{50000, 512}};
  ASSERT_TRUE(MakeReplayTvDisk(Image("old.img"), old_disk));
  ASSERT_TRUE(MakeBlankImage(Image("new.img"), 500000));
  UseDrives({"old.img", "new.img"});
  Step(Op::kMirror, 0, 1, 0, {true}, {{1, {{0, 14242}}}});
  Step(Op::kMpeg, 0, 1, 0, {true}, {{1, {{4002, 300000 - 4002}}}});
  Step(Op::kPhoto, 0, 1, 0, {true}, {{1, {{500000 - 20480, 20480}}}});
  EXPECT_EQ(ReadSectors(Image("new.img"), 500000 - 20480, 20480),
            ReadSectors(Image("old.img"), 300000 - 20480, 20480));
  Step(Op::kPatch, 1, -1, 204800, {true, false, false}, {{1, PatchRuns(4002, 512)}});
  PartitionEntry p3 = ReadPartitionEntry(ReadSector(Image("new.img"), 0, true), 3);
  EXPECT_EQ(p3.start, 500000u - 20480u);
  EXPECT_EQ(p3.length, 20480u) << "the request is ignored without a reformat";
  EXPECT_TRUE(InspectDrive(Image("new.img")).verified);

  std::vector<SectorRun> may = PatchRuns(4002, 512);
  may.push_back({500000 - 40960, 40960});
  Step(Op::kPatch, 1, -1, 40960, {true, true, false, true}, {{1, may}});
  p3 = ReadPartitionEntry(ReadSector(Image("new.img"), 0, true), 3);
  EXPECT_EQ(p3.start, 500000u - 40960u);
  EXPECT_EQ(p3.length, 40960u);
  InspectionReport report = InspectDrive(Image("new.img"));
  EXPECT_TRUE(report.verified) << RenderInspection(report);
  EXPECT_EQ(report.photo.cluster_count * (report.photo.cluster_size / 512), 40960u);
  EXPECT_EQ(report.mpeg.cluster_count, (500000u - 4002u - 40960u) / 512u);
}

// A backup holds the system area; its restore writes exactly that and resets the MPEG partition;
// a reset that refuses makes the restore a failure that says what was done.
TEST_F(PatchTest, BackupThenRestoreGivesTheSystemAreaBack) {
  ReplayTvDisk disk = Recorder(100000);
  disk.stale_pair_block = true;
  disk.recordings = {{14142, 200}};  // across the end of the image
  ASSERT_TRUE(MakeReplayTvDisk(Image("disk.img"), disk));
  ASSERT_TRUE(MakeBlankImage(Image("blank.img"), 200000));
  UseDrives({"disk.img", "blank.img"});
  ui().ChooseFileAnswer(Image("backup.rtv"));
  Step(Op::kBackup, 0, -1, 0, {}, {});
  EXPECT_EQ(FileSize(Image("backup.rtv")), 14242 * 512);
  EXPECT_EQ(ReadSectors(Image("backup.rtv"), 0, 14242), ReadSectors(Image("disk.img"), 0, 14242));

  ui().ChooseFileAnswer(Image("backup.rtv"));
  Step(Op::kRestore, 1, -1, 0, {true, true}, {{1, {{0, 14242}}}});
  EXPECT_EQ(OperationStarts(), 2);
  EXPECT_EQ(ReadSectors(Image("blank.img"), 0, 4002 + 1536),
            ReadSectors(Image("disk.img"), 0, 4002 + 1536));
  EXPECT_TRUE(InspectDrive(Image("blank.img")).verified);
  EXPECT_TRUE(Drive(1).is_replaytv);
  EXPECT_FALSE(Drive(1).patched) << "the restored layout does not fill the larger drive";

  std::vector<uint8_t> root_cluster = {0, 0, 0, 0, 0, 0, 0, 200};
  ASSERT_TRUE(WriteBytes(Image("backup.rtv"), 4002 * 512 + 262144 + kSuperRootCluster,
                         root_cluster));
  Answer({true, true});
  ui().ChooseFileAnswer(Image("backup.rtv"));
  EXPECT_EQ(RunOp(Op::kRestore, 1, -1), -1);
  EXPECT_EQ(LastBox(), "*** ERROR: The image was restored to " + Image("blank.img") +
                           ",\n           but its MPEG partition was not reset.");
  EXPECT_EQ(ui().lines().back(), LastBox()) << "no \"Restore complete\" after it";
}

}  // namespace
}  // namespace quillmar::testing
