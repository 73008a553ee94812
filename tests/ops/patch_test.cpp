// The patch of a single drive: the partition block, the volume sequence block, the in-place
// patch of the MPEG file system, its reset and reformat, the Photo partition, and the layouts it
// refuses before writing.
#include <gtest/gtest.h>

#include "base/byte_order.h"
#include "base/log.h"
#include "base/settings.h"
#include <unistd.h>
#include "format/checksum.h"
#include "format/fs_blocks.h"
#include "format/fs_checks.h"
#include "format/partition_block.h"
#include "ops/inspector.h"
#include "ops/operations.h"
#include "ops/patch_layout.h"
#include "tests/ops/ops_test_env.h"
#include "tests/support/fake_device.h"

namespace quillmar {
namespace {

using testing::Geometry;
using testing::MakeReplayTvDisk;
using testing::ReadFsBlock;
using testing::ReadSectors;
using testing::ReplayTvDisk;
using testing::WriteBytes;

struct LadderCase {
  int64_t p2len;
  int32_t override_bytes;
  uint32_t expected;
  const char* why;  // part of the line that says why; "" when no line is due
};

class ReformatClusterSizeTest : public ::testing::TestWithParam<LadderCase> {};

TEST_P(ReformatClusterSizeTest, FollowsTheLadderOrARealOverride) {
  ClusterChoice choice = ChooseMpegClusterSize(GetParam().p2len, GetParam().override_bytes);
  EXPECT_EQ(choice.bytes, GetParam().expected);
  if (*GetParam().why == '\0')
    EXPECT_EQ(choice.why, "");
  else
    EXPECT_NE(choice.why.find(GetParam().why), std::string::npos) << choice.why;
}

constexpr const char* kNotReal = "is not used (a cluster size is a power of two";
INSTANTIATE_TEST_SUITE_P(
    Sizes, ReformatClusterSizeTest,
    ::testing::Values(
        LadderCase{67108863, 0, 262144, ""}, LadderCase{67108864, 0, 524288, ""},
        LadderCase{134217727, 0, 524288, ""}, LadderCase{134217728, 0, 1048576, ""},
        LadderCase{268435455, 0, 1048576, ""}, LadderCase{268435456, 0, 2097152, ""},
        LadderCase{534773756, 0, 2097152, ""},
        // a real override with its low 9 bits cleared, compared with p2len as it
        // stands
        LadderCase{2097152, 2097152, 2097152, "2097152 bytes from the command line is used."},
        LadderCase{2097151, 2097152, 262144, "is not used (it is more than"},
        LadderCase{500000, 1025, 1024, "1025 bytes from the command line is used as 1024"},
        // not a real cluster size: the ladder, and the line says why
        LadderCase{999936, 1000000, 262144, kNotReal}, LadderCase{500000, 1, 262144, kNotReal},
        LadderCase{500000, 511, 262144, kNotReal}, LadderCase{500000, 512, 262144, kNotReal},
        LadderCase{500000, 1023, 262144, kNotReal}, LadderCase{500000, 1536, 262144, kNotReal},
        LadderCase{534773756, 99999999, 2097152, kNotReal},
        LadderCase{534773756, 4194304, 2097152, kNotReal},
        LadderCase{534773756, 2147483647, 2097152, kNotReal},
        LadderCase{500000, -4096, 262144, kNotReal}),
    [](const ::testing::TestParamInfo<LadderCase>& row) {
      return testing::NameFromNumber("Sectors", row.param.p2len) +
             testing::NameFromNumber("Override", row.param.override_bytes);
    });

TEST(PhotoClusterSizeTest, DoublesAtEachBound) {
  EXPECT_EQ(PhotoClusterSize(299999), 8192u);
  EXPECT_EQ(PhotoClusterSize(300000), 16384u);
  EXPECT_EQ(PhotoClusterSize(599999), 16384u);
  EXPECT_EQ(PhotoClusterSize(600000), 32768u);
  EXPECT_EQ(PhotoClusterSize(1199999), 32768u);
  EXPECT_EQ(PhotoClusterSize(1200000), 65536u);
}

TEST(PatchLayoutTest, RefusesWhatDoesNotFit) {
  // A drive just large enough keeps the minimum partition 2.
  PatchLayout fits = PlanPatchLayout(4002 + 10240, 0, 0, 4000, 0);
  EXPECT_EQ(fits.p2len, 10240);
  EXPECT_EQ(CheckPatchLayout(fits, 4002 + 10240, 0, 0, false), "");
  PatchLayout short_one = PlanPatchLayout(4002 + 10239, 0, 0, 4000, 0);
  EXPECT_NE(CheckPatchLayout(short_one, 4002 + 10239, 0, 0, false), "");
  // A drive smaller than its system partition: partition 2 negative.
  PatchLayout negative = PlanPatchLayout(3000, 0, 0, 4000, 0);
  EXPECT_LT(negative.p2len, 0);
  EXPECT_NE(CheckPatchLayout(negative, 3000, 0, 0, false), "");
  // A Photo partition that would begin on drive 1 of a pair.
  PatchLayout pair = PlanPatchLayout(1000000, 100000, 2, 4000, 100000);
  EXPECT_LT(pair.p3start, 1000000);
  EXPECT_NE(CheckPatchLayout(pair, 1000000, 100000, 2, false), "");
  PatchLayout pair_fits = PlanPatchLayout(1000000, 100000, 2, 4000, 99998);
  EXPECT_EQ(pair_fits.p3start, 1000000);
  EXPECT_EQ(CheckPatchLayout(pair_fits, 1000000, 100000, 2, true), "");
  // A Photo partition smaller than its nine metadata clusters cannot be formatted.
  PatchLayout tiny_photo = PlanPatchLayout(1000000, 0, 0, 4000, 143);
  EXPECT_EQ(CheckPatchLayout(tiny_photo, 1000000, 0, 0, false), "");
  EXPECT_NE(CheckPatchLayout(tiny_photo, 1000000, 0, 0, true), "");
  EXPECT_EQ(CheckPatchLayout(PlanPatchLayout(1000000, 0, 0, 4000, 144), 1000000, 0, 0, true), "");
}

class PatchTest : public testing::OpsTest {
 protected:
  // A standard-order disk whose old layout ends at layout_sectors.
  void MakeDisk(const ReplayTvDisk& disk) {
    disk_ = disk;
    ASSERT_TRUE(MakeReplayTvDisk(Image("disk.img"), disk));
    UseDrives({Image("disk.img")});
  }
  static ReplayTvDisk SmallDisk() {
    ReplayTvDisk disk;
    disk.disk_sectors = 2000000;
    disk.layout_sectors = 1000000;
    disk.p1_length = 4000;
    disk.stale_pair_block = true;
    disk.recordings = {{100000, 16}};
    return disk;
  }
  Sector Sector0() { return testing::ReadSector(Image("disk.img"), 0, disk_.rtv4000); }
  uint64_t MpegOffset() const { return uint64_t{disk_.p1_length + 2} * 512; }
  FsBlock MpegBlock(uint32_t cluster_size, uint64_t cluster) {
    return ReadFsBlock(Image("disk.img"), MpegOffset() + cluster * cluster_size, disk_.rtv4000);
  }

  ReplayTvDisk disk_;
};

TEST_F(PatchTest, KeepPatchesTheClusterCountInBothSuperblocks) {
  MakeDisk(SmallDisk());
  Sector stale = Sector0();  // a fourth entry left from elsewhere is cleared
  WritePartitionEntry(stale, 4, {0x83, 1999000, 7});
  ASSERT_TRUE(testing::WriteSectors(Image("disk.img"), 0, stale));
  Refresh();
  FsBlock old_root = MpegBlock(262144, 3);
  ui().AnswerAll({true, false});
  ASSERT_EQ(PatchSingleDrive(0, 0), 0) << ui().Transcript();

  uint32_t p2len = 2000000 - 4002;
  PartitionEntry p2 = ReadPartitionEntry(Sector0(), 2);
  EXPECT_EQ(p2.start, 4002u);
  EXPECT_EQ(p2.length, p2len);
  EXPECT_EQ(GetBe32(ReadSectors(Image("disk.img"), 1, 1), 0), 0u);
  PartitionEntry p4 = ReadPartitionEntry(Sector0(), 4);
  EXPECT_EQ(p4.type + p4.start + p4.length, 0u) << "entry 4 is cleared";
  FsBlock system = MpegBlock(0, 0);
  FsBlock super = MpegBlock(262144, 1);
  EXPECT_EQ(GetBe64(system, kSystemClusterCount), p2len / 512);
  EXPECT_EQ(GetBe64(super, kSuperClusterCount), p2len / 512);
  EXPECT_EQ(GetBe16(super, kHeaderCrc), Crc16(std::span<const uint8_t>(super).subspan(24, 312)));
  EXPECT_EQ(super[kHeaderXor], HeaderXor(super));
  EXPECT_EQ(MpegBlock(262144, 2), super);
  EXPECT_EQ(MpegBlock(262144, 3), old_root) << "keep leaves the root directory alone";
  EXPECT_TRUE(ui().Logged(Format("  Number of clusters is 0x%x.", p2len / 512)));
  EXPECT_TRUE(ui().Logged("***** PATCH COMPLETE                    *****"));
  ASSERT_FALSE(ui().boxes().empty());
  EXPECT_EQ(LastBox().text, "Patch complete");
  Refresh();
  EXPECT_TRUE(Drive(0).patched);
  EXPECT_EQ(Drive(0).dual_position, 0);
}

TEST_F(PatchTest, ClusterCountOfTheReferenceDrive) {
  ReplayTvDisk disk;
  disk.disk_sectors = 160086528;
  disk.layout_sectors = 100000000;
  disk.p1_length = 40000;
  MakeDisk(disk);
  ui().AnswerAll({true, false});
  ASSERT_EQ(PatchSingleDrive(0, 0), 0) << ui().Transcript();
  EXPECT_TRUE(ui().Logged("  Partition 2 will be 160046526 (0x98a1dbe) blocks."));
  EXPECT_TRUE(ui().Logged("  Number of clusters is 0x4c50e."));
  EXPECT_TRUE(ui().Logged("  Clearing 3rd and 4th partition settings"));
}

TEST_F(PatchTest, ResetEmptiesTheRootDirectory) {
  MakeDisk(SmallDisk());
  ui().AnswerAll({true, true, false});
  ASSERT_EQ(PatchSingleDrive(0, 0), 0) << ui().Transcript();
  FsBlock root = MpegBlock(262144, 3);
  for (size_t i = kDirSlots; i < root.size(); ++i)
    ASSERT_EQ(root[i], 0xFF) << i;
  EXPECT_TRUE(ui().Logged("*** MPEG partition reset is complete"));
  InspectionReport report = InspectDrive(Image("disk.img"));
  EXPECT_TRUE(report.verified) << RenderInspection(report);
}

// A reset that fails after the patch has written (here a failed write of the root block) makes
// the patch a failure whose closing box says what was and was not done.
TEST_F(PatchTest, ResetThatFailsAfterTheWritesIsNamedInTheClosingBox) {
  ReplayTvDisk disk = SmallDisk();
  disk.disk_sectors = 30000;
  disk.layout_sectors = 20000;
  disk.recordings.clear();
  MakeDisk(disk);
  testing::FakeDeviceIo io;
  testing::FakeDevice& fake = io.Add(Image("disk.img"), 0);
  fake.bytes() = testing::ReadBytes(Image("disk.img"), 0, 30000 * 512);
  fake.FailWriteAt((MpegOffset() + 3 * 262144) / 512);
  ui().AnswerAll({true, true, false});
  EXPECT_EQ(PatchSingleDrive(0, 0), -1);
  EXPECT_EQ(LastBox().text,
            "*** ERROR: The patch is not complete.\n           Done: the partition table, the "
            "cluster count of the MPEG file system.\n           Not done: the MPEG partition "
            "reset.");
  EXPECT_FALSE(ui().LoggedContaining("PATCH COMPLETE"));

  // A write that fails after the partition block (sector 1) names the block as done too.
  fake.bytes() = testing::ReadBytes(Image("disk.img"), 0, 30000 * 512);
  fake.FailWriteAt(1);
  ui().AnswerAll({true, true, false});
  EXPECT_EQ(PatchSingleDrive(0, 0), -1);
  EXPECT_EQ(LastBox().text,
            "*** ERROR: The patch is not complete.\n           Done: the partition table.\n"
            "           Not done: the volume sequence block cleared, the cluster count of the MPEG "
            "file system, the MPEG partition reset.");
}

struct ReformatCase {
  int32_t override_bytes;
  uint32_t cluster_size;
};

class PatchReformatTest : public PatchTest, public ::testing::WithParamInterface<ReformatCase> {};

TEST_P(PatchReformatTest, WritesAFreshFileSystem) {
  ReplayTvDisk disk = SmallDisk();
  disk.mpeg_cluster_size = 131072;
  MakeDisk(disk);
  g_mpegClusterOverride = GetParam().override_bytes;
  ui().AnswerAll({true, true, true});
  ASSERT_EQ(PatchSingleDrive(0, 0), 0) << ui().Transcript();
  EXPECT_TRUE(ui().Logged("  Partition 2 cluster size was 131072 bytes."));
  EXPECT_TRUE(
      ui().Logged(Format("  Partition 2 cluster size will be %d bytes.", GetParam().cluster_size)));
  InspectionReport report = InspectDrive(Image("disk.img"));
  EXPECT_TRUE(report.verified) << RenderInspection(report);
  EXPECT_EQ(report.mpeg.cluster_size, GetParam().cluster_size);
  EXPECT_EQ(report.mpeg.cluster_count, (2000000u - 4002u) / (GetParam().cluster_size / 512));
  EXPECT_FALSE(ui().LoggedContaining("Number of clusters")) << "no in-place patch";
  EXPECT_EQ(ui().LoggedContaining("from the command line"), GetParam().override_bytes != 0);
}

INSTANTIATE_TEST_SUITE_P(Overrides, PatchReformatTest,
                         ::testing::Values(ReformatCase{0, 262144}, ReformatCase{1000000, 262144},
                                           ReformatCase{600, 262144}, ReformatCase{1025, 1024}),
                         [](const ::testing::TestParamInfo<ReformatCase>& row) {
                           return testing::NameFromNumber("Override", row.param.override_bytes);
                         });

TEST_F(PatchTest, SuspiciousCrcLengthKeepsTheCrcButNotTheXorByte) {
  for (uint32_t crc_length : {487u, 488u}) {
    SCOPED_TRACE(crc_length);
    MakeDisk(SmallDisk());
    // Re-seal the superblock pair with an unusual crc_length.
    FsBlock super = MpegBlock(262144, 1);
    PutBe32(super, kHeaderCrcLength, crc_length);
    for (uint64_t cluster : {1u, 2u})
      ASSERT_TRUE(WriteBytes(Image("disk.img"), MpegOffset() + cluster * 262144, super));
    ResetLogFacility();
    testing::ScriptedFrontEnd front_end(true, Image("log"));
    front_end.AnswerAll({true, false});
    ASSERT_EQ(PatchSingleDrive(0, 0), 0);
    FsBlock patched = MpegBlock(262144, 1);
    bool suspicious = crc_length >= 488;
    EXPECT_EQ(front_end.Logged("*** ERROR: Suspicious FAT block, not patching CRC checksum..."),
              suspicious);
    if (suspicious) {
      EXPECT_EQ(GetBe16(patched, kHeaderCrc), GetBe16(super, kHeaderCrc));
    } else {
      EXPECT_EQ(GetBe16(patched, kHeaderCrc),
                Crc16(std::span<const uint8_t>(patched).subspan(24, crc_length)));
    }
    EXPECT_EQ(patched[kHeaderXor], HeaderXor(patched));
    EXPECT_EQ(MpegBlock(262144, 2), patched);
  }
}

TEST_F(PatchTest, Rtv4000PhotoRequestWithReformat) {
  ReplayTvDisk disk = SmallDisk();
  disk.rtv4000 = true;
  disk.photo_sectors = 409600;
  disk.layout_sectors = 1500000;
  MakeDisk(disk);
  ui().AnswerAll({true, false, true});
  ASSERT_EQ(PatchSingleDrive(0, 204800), 0) << ui().Transcript();
  PartitionEntry p3 = ReadPartitionEntry(Sector0(), 3);
  EXPECT_EQ(p3.start, 2000000u - 204800u);
  EXPECT_EQ(p3.length, 204800u);
  EXPECT_TRUE(ui().Logged("  Photo partition size will be 204800 blocks (100MB)"));
  InspectionReport report = InspectDrive(Image("disk.img"));
  EXPECT_TRUE(report.verified) << RenderInspection(report);
  EXPECT_EQ(report.photo.cluster_size, 8192u);
  EXPECT_EQ(report.photo.cluster_count, 12800u);
}

TEST_F(PatchTest, Rtv4000DiskIsNeverLimited) {
  ReplayTvDisk disk;
  disk.disk_sectors = 300000000;
  disk.layout_sectors = 100000000;
  disk.rtv4000 = true;
  MakeDisk(disk);
  ui().AnswerAll({true, false});
  ASSERT_EQ(PatchSingleDrive(0, 0), 0) << ui().Transcript();
  EXPECT_FALSE(ui().LoggedContaining("Limiting"));
  EXPECT_EQ(ReadPartitionEntry(Sector0(), 2).length, 300000000u - disk.p1_length - 2);
  Refresh();
  EXPECT_TRUE(Drive(0).patched);
}

// Refusals of the patch: everything is asked and answered, then nothing is written.
TEST_F(PatchTest, DriveTooSmallForItsSystemPartitionIsRefusedBeforeWriting) {
  ReplayTvDisk disk;
  disk.disk_sectors = 12000;
  disk.layout_sectors = 12000;
  disk.p1_length = 4000;
  disk.mpeg_cluster_size = 0;
  MakeDisk(disk);
  // A system partition that claims more than the drive holds.
  Sector sector0 = Sector0();
  WritePartitionEntry(sector0, 1, {kRecorderPartitionType, 2, 20000});
  ASSERT_TRUE(WriteBytes(Image("disk.img"), 0, sector0));
  Refresh();
  Snapshot();
  ui().AnswerAll({true, true, false});  // the drive is not patched any more; confirm; keep
  EXPECT_EQ(PatchSingleDrive(0, 0), -1);
  EXPECT_TRUE(Unchanged());
  EXPECT_EQ(LastBox().caption, "*** ERROR ***");
  EXPECT_NE(LastBox().text.find("*** ERROR: The disk is too small"), std::string::npos);
  EXPECT_NE(LastBox().text.find("Disk: " + Image("disk.img")), std::string::npos)
      << "the box names the drive it refuses";
}

TEST_F(PatchTest, PhotoRequestLargerThanTheDriveIsRefusedBeforeWriting) {
  ReplayTvDisk disk = SmallDisk();
  disk.rtv4000 = true;
  disk.photo_sectors = 20480;
  MakeDisk(disk);
  Snapshot();
  ui().AnswerAll({true, false, true});
  EXPECT_EQ(PatchSingleDrive(0, 39062528), -1);
  EXPECT_TRUE(Unchanged());
  EXPECT_NE(LastBox().text.find("and its Photo partition"), std::string::npos) << LastBox().text;
}

TEST_F(PatchTest, Rtv4000PhotoEntryOfLengthZeroMovesToTheEnd) {
  ReplayTvDisk disk = SmallDisk();
  disk.rtv4000 = true;
  MakeDisk(disk);
  Sector sector0 = Sector0();
  WritePartitionEntry(sector0, 3, {kRecorderPartitionType, 1000000, 0});
  Rtv4000Byteswap(sector0);
  ASSERT_TRUE(WriteBytes(Image("disk.img"), 0, sector0));
  ui().AnswerAll({true, false, false});  // confirm, keep, do not format the Photo partition
  ASSERT_EQ(PatchSingleDrive(0, 0), 0) << ui().Transcript();
  PartitionEntry p3 = ReadPartitionEntry(Sector0(), 3);
  EXPECT_EQ(p3.type, kRecorderPartitionType);
  EXPECT_EQ(p3.start, 2000000u);
  EXPECT_EQ(p3.length, 0u);
}

// A drive that holds fewer sectors than it was listed with (an image cut since) would get
// partitions past its end: refused before anything is written.
TEST_F(PatchTest, DriveSmallerThanListedIsRefusedBeforeWriting) {
  MakeDisk(SmallDisk());
  ASSERT_EQ(::truncate(Image("disk.img").c_str(), 1500000 * 512), 0);
  Snapshot();
  ui().AnswerAll({true, false});
  EXPECT_EQ(PatchSingleDrive(0, 0), -1);
  EXPECT_TRUE(Unchanged());
  EXPECT_EQ(LastBox().text.rfind("*** ERROR: The drive is smaller than the new layout", 0), 0u)
      << LastBox().text;
}

// A partition block without its signature is not patched into a disk that would not verify.
TEST_F(PatchTest, PartitionBlockWithoutSignatureIsRefusedBeforeWriting) {
  MakeDisk(SmallDisk());
  ASSERT_TRUE(testing::WriteBytes(Image("disk.img"), 510, std::vector<uint8_t>{0, 0}));
  Snapshot();
  ui().AnswerAll({true, false});
  EXPECT_EQ(PatchSingleDrive(0, 0), -1);
  EXPECT_TRUE(Unchanged());
  EXPECT_EQ(LastBox().text.rfind("*** ERROR: The partition block has no signature", 0), 0u)
      << LastBox().text;
}

// Values of the old file system that the patch must not write from, each written big-endian at
// a byte offset from the start of partition 2 (clusters of 262,144 bytes): refused, with the
// drive and the value named, before anything is written.
struct HostileCase {
  const char* name;
  uint64_t offset;
  uint64_t value;
  size_t width;
  bool reset;  // answered Reset, else Keep
  const char* refusal;
};

void PrintTo(const HostileCase& c, std::ostream* out) {
  *out << c.name;
}

class PatchHostileTest : public PatchTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(PatchHostileTest, RefusedBeforeTheFirstWrite) {
  const HostileCase& c = GetParam();
  MakeDisk(SmallDisk());
  std::vector<uint8_t> bytes(8);
  PutBe64(bytes, 0, c.value);
  ASSERT_TRUE(WriteBytes(Image("disk.img"), MpegOffset() + c.offset,
                         std::span<const uint8_t>(bytes).last(c.width)));
  Snapshot();
  ui().AnswerAll({true, c.reset});  // confirm; reset (not reformat) or keep
  if (c.reset)
    ui().Answer(false);
  EXPECT_EQ(PatchSingleDrive(0, 0), -1);
  EXPECT_TRUE(Unchanged());
  const std::string& box = LastBox().text;
  EXPECT_EQ(box.rfind(c.refusal, 0), 0u) << box;
  EXPECT_NE(box.find(Format(" is %llu:\n", static_cast<unsigned long long>(c.value))),
            std::string::npos)
      << box;
  EXPECT_NE(box.find("Disk: " + Image("disk.img")), std::string::npos) << box;
  EXPECT_FALSE(ui().LoggedContaining("PATCH COMPLETE"));
}

constexpr uint64_t kK = 262144;
constexpr const char* kNoSuper = "*** ERROR: Partition 2 has no superblock at cluster 1";
INSTANTIATE_TEST_SUITE_P(
    Disks, PatchHostileTest,
    ::testing::Values(
        HostileCase{"Cluster0", kSystemClusterSize, 0, 4, false, kInvalidClusterSize},
        HostileCase{"Cluster1", kSystemClusterSize, 1, 4, false, kInvalidClusterSize},
        HostileCase{"Cluster511", kSystemClusterSize, 511, 4, false, kInvalidClusterSize},
        HostileCase{"Cluster513", kSystemClusterSize, 513, 4, true, kInvalidClusterSize},
        HostileCase{"Cluster1000", kSystemClusterSize, 1000, 4, false, kInvalidClusterSize},
        HostileCase{"Cluster131584", kSystemClusterSize, 131584, 4, false, kInvalidClusterSize},
        HostileCase{"Cluster1048577", kSystemClusterSize, 1048577, 4, true, kInvalidClusterSize},
        HostileCase{"Cluster2Pow31", kSystemClusterSize, 0x80000000u, 4, false,
                    kInvalidClusterSize},
        HostileCase{"ClusterAllOnes", kSystemClusterSize, 0xFFFFFFFFu, 4, false,
                    kInvalidClusterSize},
        HostileCase{"Cluster8MiB", kSystemClusterSize, 0x800000, 4, false, kInvalidClusterSize},
        HostileCase{"NoSuperblockKind", kK + kHeaderKind, 0, 4, false, kNoSuper},
        HostileCase{"SuperblockAtCluster2", kK + kHeaderCluster, 2, 8, false, kNoSuper},
        HostileCase{"RootCluster200", kK + kSuperRootCluster, 200, 8, true,
                    "*** ERROR: Root directory cluster number is not valid"},
        HostileCase{"RootCrcLength999", 3 * kK + kHeaderCrcLength, 999, 4, true,
                    "*** ERROR: Suspicious root directory block"}),
    [](const ::testing::TestParamInfo<HostileCase>& c) { return std::string(c.param.name); });

}  // namespace
}  // namespace quillmar
