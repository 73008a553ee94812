// The operations that finish, on image files: each step may change only its own sectors, and its
// result is read back with the partition block reader and the inspector.
#include <filesystem>

#include <gmock/gmock.h>

#include "format/partition_block.h"
#include "ops/inspector.h"
#include "tests/ops/ops_harness.h"

namespace quillmar::testing {
namespace {

using OperationTest = OpsTest;
constexpr uint64_t kM = 1000000;

// Each row patches a fresh disk whose partition block also holds a stale fourth entry.
TEST_F(OperationTest, PatchFillsTheDiskAndItsFileSystemsVerify) {
  struct Row {
    const char* name;
    ReplayTvDisk disk;
    const char* answers;  // confirm; reset; reformat; (RTV4000 with a Photo entry) format it
    uint32_t photo;       // asked for, and the length of partition 3 afterwards
    int32_t override_bytes;
    uint32_t cluster_size;  // of the MPEG file system afterwards
    uint32_t p2len;
  };
  ReplayTvDisk old_layout = Recorder(2000000, false, 1000000), old_clusters = old_layout;
  old_clusters.mpeg_cluster_size = 131072;
  const Row rows[] = {
      {"Keep", old_layout, "YN", 0, 0, 262144, 1995998},
      {"Reset", old_layout, "YYN", 0, 0, 262144, 1995998},
      {"ReformatWithOverride", old_clusters, "YYY", 0, 1025, 1024, 1995998},
      {"ReformatLargerThanItsPartition", old_clusters, "YYY", 0, 2097152, 262144, 1995998},
      {"LadderBound", Recorder(134221730, false, 100 * kM), "YYY", 0, 0, 1048576, 134217728},
      {"LimitedTo137Gb", Recorder(300 * kM, false, 100 * kM), "YN", 0, 0, 262144, 267382878},
      {"Rtv4000NeverLimited", Recorder(300 * kM, true, 100 * kM), "YN", 0, 0, 262144, 299995998},
      {"PhotoAsAsked", Recorder(2 * kM, true, 1500000, 409600), "YNY", 204800, 0, 262144, 1791198},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    bool rtv4000 = row.disk.rtv4000;
    ASSERT_TRUE(MakeReplayTvDisk(Image("disk.img"), row.disk));
    Sector block = ReadSector(Image("disk.img"), 0, rtv4000);
    WritePartitionEntry(block, 4, {0x83, 1999000, 7});
    if (rtv4000)
      Rtv4000Byteswap(block);
    ASSERT_TRUE(WriteSectors(Image("disk.img"), 0, block));
    UseDrives({"disk.img"});
    NewFrontEnd();
    g_mpegClusterOverride = row.override_bytes;
    std::string answers = row.answers;
    std::vector<SectorRun> may = kPatchRuns;
    if (answers == "YYN")
      may.push_back({4002 + 3 * 512, 514});  // the root directory pair
    if (answers == "YYY")
      may = {{0, 2}, {4002, 10240}};
    uint32_t p3 = 4002 + row.p2len;
    may.push_back({p3, row.photo});
    Step(kPatch, 0, -1, row.photo, answers, {{0, may}});

    block = ReadSector(Image("disk.img"), 0, rtv4000);
    PartitionEntry p2 = ReadPartitionEntry(block, 2), p3_entry = ReadPartitionEntry(block, 3),
                   p4 = ReadPartitionEntry(block, 4);
    EXPECT_EQ(p2.length, row.p2len);
    EXPECT_EQ(p3_entry.length, row.photo);
    EXPECT_EQ(p3_entry.start, row.photo == 0 ? 0 : p3);
    EXPECT_EQ(p4.type + p4.start + p4.length, 0u) << "the stale fourth entry is cleared";
    InspectionReport report = InspectDrive(Image("disk.img"));
    EXPECT_TRUE(report.verified) << RenderInspection(report);
    EXPECT_EQ(report.mpeg.cluster_size, row.cluster_size);
    EXPECT_EQ(report.mpeg.cluster_count, row.p2len / (row.cluster_size / 512));
    EXPECT_TRUE(DriveAt(0).patched);
  }
}

// Two drives joined: partition 2 over both, the Photo partition formatted at the end of drive 2,
// a standard-order drive 2 limited to 137 GB; the pair verifies and lists as disks 1 and 2 of 2,
// and drive 1 with another pair's drive 2 does not verify.
TEST_F(OperationTest, JoinedDrivesVerifyAsOnePair) {
  // Drive 1, the sectors of drive 2, the Photo partition asked for (and formatted), partition 2.
  const std::tuple<ReplayTvDisk, uint64_t, uint32_t, uint32_t> rows[] = {
      {Recorder(160086528, false, 1000000), 300000000, 0, 160086528 + 267386880 - 4004},
      {Recorder(2000000, true, 1000000, 20480), 1000000, 204800, 3000000 - 4004 - 204800}};
  for (const auto& [first, second_sectors, photo, p2len] : rows) {
    SCOPED_TRACE(first.rtv4000 ? "RTV4000 with a Photo partition" : "standard");
    ASSERT_TRUE(MakeReplayTvDisk(Image("one.img"), first));
    ASSERT_TRUE(MakeBlankImage(Image("two.img"), second_sectors));
    UseDrives({"one.img", "two.img"});
    NewFrontEnd();
    uint64_t photo_start = second_sectors - photo;
    Step(kJoin, 0, 1, photo, photo == 0 ? "YN" : "YNY",
         {{0, kPatchRuns}, {1, {{0, 2}, {photo_start, photo}}}});
    PartitionEntry p2 = ReadPartitionEntry(ReadSector(Image("one.img"), 0, first.rtv4000), 2);
    EXPECT_EQ(p2.length, p2len);
    InspectionReport report = InspectDrive(Image("one.img"), Image("two.img"));
    EXPECT_TRUE(report.verified) << RenderInspection(report);
    EXPECT_EQ(report.mpeg.cluster_count, p2len / 512);
    EXPECT_EQ(report.photo.start_sector, photo == 0 ? 0 : photo_start);
    EXPECT_EQ(DriveAt(0).dual_position, 1);
    EXPECT_EQ(DriveAt(1).dual_position, 2);
    if (std::filesystem::exists(Image("last.img"))) {  // the row before's drive 2: another pair's
      EXPECT_THAT(RenderInspection(InspectDrive(Image("one.img"), Image("last.img"))),
                  ::testing::HasSubstr(" is the second drive of another two-drive system"));
    }
    std::filesystem::rename(Image("two.img"), Image("last.img"));
  }
}

// The whole upgrade to a larger disk: mirror, copy the recordings (and the Photo partition, to
// the target's end), patch keeping the MPEG file system; the recordings are all there.
TEST_F(OperationTest, UpgradeMovesADiskToALargerOneKeepingItsRecordings) {
  for (bool rtv4000 : {false, true}) {
    SCOPED_TRACE(rtv4000 ? "RTV4000 with a Photo partition" : "standard");
    ReplayTvDisk old_disk = Recorder(200000, rtv4000, 0, rtv4000 ? 20480 : 0);
    old_disk.recordings = {{196000, 4000}};  // up to the last sector
    old_disk.stale_pair_block = true;
    ASSERT_TRUE(MakeReplayTvDisk(Image("old.img"), old_disk));
    ASSERT_TRUE(MakeBlankImage(Image("new.img"), 400000));
    UseDrives({"old.img", "new.img"});
    NewFrontEnd();
    Step(kMirror, 0, 1, 0, "Y", {{1, {{0, 14242}}}});
    EXPECT_EQ(DriveAt(1).dual_position, 1) << "the stale pair block came along";
    Step(kMpeg, 0, 1, 0, "Y", {{1, {{4002, 200000 - 4002}}}});
    if (rtv4000)
      Step(kPhoto, 0, 1, 0, "Y", {{1, {{400000 - 20480, 20480}}}});
    Step(kPatch, 1, -1, 0, rtv4000 ? "YNN" : "YN", {{1, kPatchRuns}});
    EXPECT_TRUE(DriveAt(1).patched);
    EXPECT_EQ(DriveAt(1).dual_position, 0);
    InspectionReport report = InspectDrive(Image("new.img"));
    EXPECT_TRUE(report.verified) << RenderInspection(report);
    EXPECT_EQ(report.mpeg.cluster_count, (400000u - 4002u - old_disk.photo_sectors) / 512u);
    EXPECT_EQ(report.photo.start_sector, rtv4000 ? 400000 - 20480 : 0);
    EXPECT_TRUE(HasPattern(Image("new.img"), 2, 4000, Pattern::kSystem, 2));
    EXPECT_TRUE(HasPattern(Image("new.img"), 196000, 4000, Pattern::kRecording, 196000));
  }
  // The inspector finds one changed byte of each metadata block of the RTV4000 disk (groups of
  // four bytes stored reversed; partition 2 in clusters of 512 sectors, partition 3 in 16), and
  // shows a name turned into a line break escaped.
  const std::tuple<uint64_t, size_t, const char*, uint8_t> damages[] = {
      {4002 + 512, 100, "superblock (cluster 1) has CRC", 1},
      {4002 + 1024, 100, "superblock (cluster 1) differs", 1},
      {4002 + 1536, 19, "root directory (cluster 3) has XOR byte", 1},
      {4002, 272, "no file-system magic", 1},
      {379520 + 80, 200, "directory 'tmp' (cluster 5) has CRC", 1},
      {379520 + 80, 152, "directory '\\x0amp'", 't' ^ '\n'}};
  for (auto [sector, offset, finds, flip] : damages) {
    ASSERT_TRUE(CopyImage(Image("new.img"), Image("hurt.img")));
    uint64_t at = sector * 512 + (offset & ~size_t{3}) + 3 - (offset & 3);
    std::vector<uint8_t> byte = ReadBytes(Image("hurt.img"), at, 1);
    byte[0] ^= flip;
    ASSERT_TRUE(WriteBytes(Image("hurt.img"), at, byte));
    EXPECT_THAT(RenderInspection(InspectDrive(Image("hurt.img"))), ::testing::HasSubstr(finds));
  }
}

}  // namespace
}  // namespace quillmar::testing
