// The fixture builder itself: other tests trust its layouts, so they are read back here through
// the production parsers and independent checks.
#include "tests/support/disk_image.h"

#include <gtest/gtest.h>

#include <chrono>

#include "format/fs_blocks.h"
#include "format/partition_block.h"
#include "format/volume_sequence.h"
#include "tests/format/format_fixture.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

using testing::Geometry;
using testing::ImageHash;
using testing::ReadSectors;
using testing::ReplayTvDisk;
using testing::TempDir;

class RecorderDiskFixture : public ::testing::TestWithParam<bool> {
 protected:
  TempDir dir_;
};

TEST_P(RecorderDiskFixture, LayoutReadsBackInItsByteOrder) {
  bool rtv4000 = GetParam();
  std::string path = dir_.File("rtv.img");
  ReplayTvDisk disk;
  disk.disk_sectors = 2000000;
  disk.rtv4000 = rtv4000;
  disk.p1_length = 3000;
  disk.layout_sectors = 1500000;  // an old layout on a bigger disk
  disk.photo_sectors = 20480;
  disk.recordings = {{500000, 3}};
  ASSERT_TRUE(testing::MakeReplayTvDisk(path, disk));

  std::vector<uint8_t> raw0 = ReadSectors(path, 0, 1);
  EXPECT_EQ(IsRtv4000Order(raw0), rtv4000);
  Sector sector0 = testing::ReadSector(path, 0, rtv4000);
  PartitionEntry p1 = ReadPartitionEntry(sector0, 1);
  PartitionEntry p2 = ReadPartitionEntry(sector0, 2);
  PartitionEntry p3 = ReadPartitionEntry(sector0, 3);
  EXPECT_EQ(p1.type, 0x4D);
  EXPECT_EQ(p1.start, 2u);
  EXPECT_EQ(p1.length, 3000u);
  EXPECT_EQ(p2.type, 0x4D);
  EXPECT_EQ(p2.start, 3002u);
  EXPECT_EQ(p2.length, 1500000u - 3002u - 20480u);
  EXPECT_EQ(p3.type, 0x4D);
  EXPECT_EQ(p3.start, 1500000u - 20480u);
  EXPECT_EQ(p3.length, 20480u);
  EXPECT_EQ(ReadPartitionEntry(sector0, 4).type, 0);

  EXPECT_TRUE(testing::HasPattern(path, 2, 3000, testing::Pattern::kSystem, 2));
  EXPECT_FALSE(testing::HasPattern(path, 3002, 1, testing::Pattern::kSystem, 3002));
  EXPECT_TRUE(testing::HasPattern(path, 500000, 3, testing::Pattern::kRecording, 500000));

  FsBlock system = testing::ReadFsBlock(path, 3002ull * 512, rtv4000);
  EXPECT_EQ(GetBe32(system, kSystemClusterSize), 262144u);
  EXPECT_EQ(GetBe64(system, kSystemClusterCount), Geometry(disk).mpeg_cluster_count);
  FsBlock photo_system = testing::ReadFsBlock(path, uint64_t{p3.start} * 512, rtv4000);
  EXPECT_EQ(GetBe32(photo_system, kSystemClusterSize), 8192u);
  EXPECT_EQ(GetBe64(photo_system, kSystemClusterCount), 20480u / 16);
  EXPECT_EQ(testing::FileSize(path), 2000000LL * 512);
}

TEST_P(RecorderDiskFixture, PairCarriesBothVolumeSequenceBlocksAndPhotoOnDriveTwo) {
  bool rtv4000 = GetParam();
  std::string a = dir_.File("a.img");
  std::string b = dir_.File("b.img");
  ReplayTvDisk first;
  first.disk_sectors = 1000000;
  first.rtv4000 = rtv4000;
  first.photo_sectors = 4096;
  ASSERT_TRUE(testing::MakeReplayTvPair(a, b, first, 3000000));

  EXPECT_EQ(VolumeSequencePosition(testing::ReadSector(a, 1, rtv4000)), 1);
  EXPECT_EQ(VolumeSequencePosition(testing::ReadSector(b, 1, rtv4000)), 2);
  EXPECT_BYTES_EQ(EmptyPartitionBlock(), testing::ReadSector(b, 0, rtv4000));
  PartitionEntry p2 = ReadPartitionEntry(testing::ReadSector(a, 0, rtv4000), 2);
  EXPECT_EQ(p2.length, 1000000u + 3000000u - 2u - 4002u - 4096u);
  // The Photo partition's joined start lies on drive 2 two sectors further on.
  uint64_t photo_on_b = (1000000u + 3000000u - 2u - 4096u) - 1000000u + 2u;
  FsBlock photo_system = testing::ReadFsBlock(b, photo_on_b * 512, rtv4000);
  EXPECT_EQ(GetBe32(photo_system, kSystemClusterSize), 8192u);
  EXPECT_EQ(testing::FileSize(b), 3000000LL * 512);
}

INSTANTIATE_TEST_SUITE_P(BothOrders, RecorderDiskFixture, ::testing::Bool(),
                         testing::ByteOrderNames());

struct PcCase {
  testing::PcDisk kind;
  int entry;
  uint8_t type;
  const char* tool;
};

class PcDiskFixture : public ::testing::TestWithParam<PcCase> {};

TEST_P(PcDiskFixture, FirstNonEmptyEntryHasThePcType) {
  const PcCase& c = GetParam();
  if (c.tool != nullptr)
    QUILLMAR_REQUIRE_TOOL(c.tool);
  TempDir dir;
  std::string path = dir.File("pc.img");
  ASSERT_TRUE(testing::MakePcDisk(path, 100000, c.kind));
  std::vector<uint8_t> sector0 = ReadSectors(path, 0, 1);
  for (int n = 1; n < c.entry; ++n)
    EXPECT_EQ(ReadPartitionEntry(sector0, n).type, 0) << n;
  EXPECT_EQ(ReadPartitionEntry(sector0, c.entry).type, c.type);
  EXPECT_TRUE(IsPcPartitionType(c.type));
  EXPECT_EQ(sector0[510], 0x55);
  EXPECT_EQ(sector0[511], 0xAA);
}

std::string PcCaseName(const ::testing::TestParamInfo<PcCase>& row) {
  const char* names[] = {"Ntfs", "Linux", "Fat32SecondEntry", "Gpt"};
  return names[static_cast<int>(row.param.kind)];
}

INSTANTIATE_TEST_SUITE_P(Layouts, PcDiskFixture,
                         ::testing::Values(PcCase{testing::PcDisk::kNtfs, 1, 0x07, nullptr},
                                           PcCase{testing::PcDisk::kLinux, 1, 0x83, nullptr},
                                           PcCase{testing::PcDisk::kFat32SecondEntry, 2, 0x0B,
                                                  nullptr},
                                           PcCase{testing::PcDisk::kGpt, 1, 0xEE, "sgdisk"}),
                         PcCaseName);

TEST(ImageHash, HugeSparseImageHashesFastAndByContent) {
  TempDir dir;
  std::string a = dir.File("a.img");
  std::string b = dir.File("b.img");
  ASSERT_TRUE(testing::MakeBlankImage(a, 300000000));
  ASSERT_TRUE(testing::MakeBlankImage(b, 300000000));
  Sector data = testing::PatternSector(testing::Pattern::kRecording, 7);
  ASSERT_TRUE(testing::WriteSectors(a, 299999999, data));
  ASSERT_TRUE(testing::WriteSectors(b, 299999999, data));
  // Zeros written into b are the same content as a hole in a.
  std::vector<uint8_t> zeros(65536, 0);
  ASSERT_TRUE(testing::WriteSectors(b, 1000, zeros));

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ImageHash(a), ImageHash(b));
  EXPECT_TRUE(testing::ImagesEqual(a, b));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

  // One byte anywhere, and the same bytes at another offset, both change the hash.
  uint64_t before = ImageHash(b);
  ASSERT_TRUE(testing::WriteBytes(b, 12345 * 512 + 17, std::vector<uint8_t>{1}));
  EXPECT_NE(ImageHash(b), before);
  ::testing::AssertionResult diff = testing::ImagesEqual(a, b);
  ASSERT_FALSE(diff);
  EXPECT_NE(std::string(diff.message()).find("sector 12345 differs"), std::string::npos)
      << diff.message();

  std::string c = dir.File("c.img");
  ASSERT_TRUE(testing::CopyImage(a, c));
  EXPECT_TRUE(testing::ImagesEqual(a, c));
  ASSERT_TRUE(testing::WriteSectors(c, 299999998, data));
  EXPECT_NE(ImageHash(a), ImageHash(c));
}

}  // namespace
}  // namespace quillmar
