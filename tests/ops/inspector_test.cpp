// The inspector reads a drive back and finds every damaged check of its metadata blocks.
#include <gtest/gtest.h>

#include "format/byte_order.h"
#include "format/checksum.h"
#include "ops/inspector.h"
#include "tests/ops/ops_test_env.h"

namespace quillmar {
namespace {

using testing::Geometry;
using testing::MakeBlankImage;
using testing::MakeReplayTvDisk;
using testing::MakeReplayTvPair;
using testing::ReadBytes;
using testing::ReplayTvDisk;
using testing::ReplayTvGeometry;
using testing::WriteBytes;

ReplayTvDisk PhotoDisk(bool rtv4000) {
  ReplayTvDisk disk;
  disk.disk_sectors = 400000;
  disk.rtv4000 = rtv4000;
  disk.photo_sectors = rtv4000 ? 20480 : 0;
  return disk;
}

class InspectorTest : public testing::OpsTest, public ::testing::WithParamInterface<bool> {};

TEST_P(InspectorTest, FreshDiskVerifies) {
  ReplayTvDisk disk = PhotoDisk(GetParam());
  ASSERT_TRUE(MakeReplayTvDisk(Image("disk.img"), disk));
  InspectionReport report = InspectDrive(Image("disk.img"));
  std::string text = RenderInspection(report);
  EXPECT_TRUE(report.verified) << text;
  EXPECT_EQ(report.rtv4000, GetParam());
  EXPECT_EQ(report.mpeg.label, "mpeg");
  EXPECT_EQ(report.mpeg.cluster_size, 262144u);
  EXPECT_EQ(report.mpeg.cluster_count, Geometry(disk).mpeg_cluster_count);
  EXPECT_EQ(report.mpeg.root_cluster, 3u);
  EXPECT_EQ(report.photo.present, GetParam());
  EXPECT_NE(text.find("Verified: yes"), std::string::npos);
  EXPECT_NE(text.find(GetParam() ? "Byte order: RTV4000" : "Byte order: standard"),
            std::string::npos);
}

// One byte of a metadata block changed on the disk, and what the report must say.
struct Damage {
  const char* name;
  bool photo;             // in the Photo file system instead of the MPEG one
  uint64_t cluster;       // which block
  size_t offset;          // which byte (standard-order offset)
  const char* complaint;  // a fragment of the problem reported
};

void PrintTo(const Damage& damage, std::ostream* out) {
  *out << damage.name;
}

class InspectorDamageTest : public testing::OpsTest,
                            public ::testing::WithParamInterface<std::tuple<Damage, bool>> {};

TEST_P(InspectorDamageTest, IsFound) {
  const auto& [damage, rtv4000] = GetParam();
  ReplayTvDisk disk = PhotoDisk(rtv4000);
  ASSERT_TRUE(MakeReplayTvDisk(Image("disk.img"), disk));
  ReplayTvGeometry geometry = Geometry(disk);
  uint64_t start = damage.photo ? geometry.p3_start : geometry.p2_start;
  uint32_t cluster_size = damage.photo ? disk.photo_cluster_size : disk.mpeg_cluster_size;
  // The stored byte of a standard-order offset on an RTV4000 disk is reversed in its group.
  size_t stored = rtv4000 ? (damage.offset & ~size_t{3}) + 3 - (damage.offset & 3) : damage.offset;
  uint64_t at = start * 512 + damage.cluster * cluster_size + stored;
  std::vector<uint8_t> byte = ReadBytes(Image("disk.img"), at, 1);
  byte[0] ^= 0x01;
  ASSERT_TRUE(WriteBytes(Image("disk.img"), at, byte));

  InspectionReport report = InspectDrive(Image("disk.img"));
  std::string text = RenderInspection(report);
  EXPECT_FALSE(report.verified) << text;
  EXPECT_NE(text.find(damage.complaint), std::string::npos) << text;
  EXPECT_NE(text.find("Verified: no"), std::string::npos);
}

template <class D>
std::string DamageName(const ::testing::TestParamInfo<std::tuple<D, bool>>& damage) {
  return std::string(std::get<0>(damage.param).name) +
         (std::get<1>(damage.param) ? "Rtv4000" : "Standard");
}

INSTANTIATE_TEST_SUITE_P(
    MpegBlocks, InspectorDamageTest,
    ::testing::Combine(
        ::testing::Values(Damage{"SuperblockBody", false, 1, 100, "superblock (cluster 1) has CRC"},
                          Damage{"SuperblockCopy", false, 2, 100, "superblock (cluster 1) differs"},
                          Damage{"SuperblockXor", false, 1, 19, "XOR byte"},
                          Damage{"RootCrc", false, 3, 12, "root directory (cluster 3) has CRC"},
                          Damage{"RootCopy", false, 4, 600, "differs from its copy"},
                          Damage{"SystemMagic", false, 0, 272, "no file-system magic"}),
        ::testing::Bool()),
    DamageName<Damage>);

// Only RTV4000 disks keep a Photo partition.
INSTANTIATE_TEST_SUITE_P(
    PhotoBlocks, InspectorDamageTest,
    ::testing::Combine(::testing::Values(Damage{"PhotoDirectory", true, 5, 200,
                                                "directory 'tmp' (cluster 5) has CRC"},
                                         Damage{"PhotoSuperblockXor", true, 2, 19,
                                                "Photo file system: superblock"}),
                       ::testing::Values(true)),
    DamageName<Damage>);

// A field of the first drive of a pair rewritten with a value that the block's own checks do not
// catch (a file-system block is resealed, both copies alike): sizes and lengths that do not fit.
struct FieldDamage {
  const char* name;
  uint64_t cluster;  // of the MPEG file system; kSector1: the volume sequence block
  size_t offset;     // standard-order offset of a 32-bit (crc_length) or 64-bit field
  uint64_t value;
  const char* complaint;
};
constexpr uint64_t kSector1 = ~uint64_t{0};

void PrintTo(const FieldDamage& damage, std::ostream* out) {
  *out << damage.name;
}

class InspectorFieldTest : public testing::OpsTest,
                           public ::testing::WithParamInterface<std::tuple<FieldDamage, bool>> {};

TEST_P(InspectorFieldTest, IsFound) {
  const auto& [damage, rtv4000] = GetParam();
  ReplayTvDisk first = PhotoDisk(rtv4000);
  first.disk_sectors = 102400;  // 50 MB
  first.photo_sectors = 0;
  ASSERT_TRUE(MakeReplayTvPair(Image("d1.img"), Image("d2.img"), first, 102400));
  ASSERT_TRUE(InspectDrive(Image("d1.img")).verified);
  bool sector1 = damage.cluster == kSector1;
  uint64_t cluster_size = first.mpeg_cluster_size;
  uint64_t at = sector1 ? 512 : Geometry(first).p2_start * 512 + damage.cluster * cluster_size;
  FsBlock block = testing::ReadFsBlock(Image("d1.img"), at, rtv4000);
  if (sector1) {
    PutBe64(block, damage.offset, damage.value);
  } else {
    PutBe32(block, damage.offset, static_cast<uint32_t>(damage.value));
    SealBlock(block);
  }
  if (rtv4000)
    Rtv4000Byteswap(block);
  ASSERT_TRUE(WriteBytes(Image("d1.img"), at, block));
  if (!sector1) {
    ASSERT_TRUE(WriteBytes(Image("d1.img"), at + cluster_size, block));
  }

  std::string text = RenderInspection(InspectDrive(Image("d1.img")));
  EXPECT_NE(text.find(damage.complaint), std::string::npos) << text;
  EXPECT_NE(text.find("Verified: no"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, InspectorFieldTest,
    ::testing::Combine(
        ::testing::Values(
            FieldDamage{"DriveBytes", kSector1, 40, ~uint64_t{0}, "gives the drive 18446744"},
            FieldDamage{"DriveOffset", kSector1, 32, 1024, "part at byte 1024, not 0"},
            FieldDamage{"RootCrcLength", 3, kHeaderCrcLength, 0, "(cluster 3) covers 0 bytes"},
            FieldDamage{"SuperCrcLength", 1, kHeaderCrcLength, 488, "covers 488 bytes"}),
        ::testing::Bool()),
    DamageName<FieldDamage>);

INSTANTIATE_TEST_SUITE_P(ByteOrders, InspectorTest, ::testing::Bool());

TEST_F(InspectorTest, BlankDiskIsNotARecorderDisk) {
  ASSERT_TRUE(MakeBlankImage(Image("blank.img"), 10000));
  InspectionReport report = InspectDrive(Image("blank.img"));
  EXPECT_TRUE(report.readable);
  EXPECT_FALSE(report.verified);
  EXPECT_FALSE(InspectDrive(Image("missing.img")).readable);
}

TEST_F(InspectorTest, UnpatchedClusterCountLargerThanItsPartitionIsFound) {
  ReplayTvDisk disk = PhotoDisk(false);
  ASSERT_TRUE(MakeReplayTvDisk(Image("disk.img"), disk));
  // Partition 2 shortened behind the file system's back.
  std::vector<uint8_t> length = ReadBytes(Image("disk.img"), 474, 4);
  length[2] = 0;
  length[3] = 0;
  ASSERT_TRUE(WriteBytes(Image("disk.img"), 474, length));
  InspectionReport report = InspectDrive(Image("disk.img"));
  EXPECT_FALSE(report.verified);
  EXPECT_NE(RenderInspection(report).find("do not fit in the partition"), std::string::npos)
      << RenderInspection(report);
}

}  // namespace
}  // namespace quillmar
