// The image builders and comparisons that every other folder trusts, where a fault of theirs
// would let a test pass for nothing: images compared equal though they differ, patterns found
// where none were written, a recorder disk missing the data or byte order it was asked for.
#include "tests/support/disk_image.h"

#include <gtest/gtest.h>

#include "format/fs_blocks.h"
#include "format/partition_block.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

TEST(DiskImage, ComparisonsSeeEveryByteOfHugeSparseImages) {
  testing::TempDir dir;
  std::string a = dir.File("a.img");
  std::string b = dir.File("b.img");
  ASSERT_TRUE(testing::MakeBlankImage(a, 300000000));
  ASSERT_TRUE(testing::MakeBlankImage(b, 300000000));
  Sector data = testing::PatternSector(testing::Pattern::kRecording, 299999999);
  ASSERT_TRUE(testing::WriteSectors(a, 299999999, data));
  ASSERT_TRUE(testing::WriteSectors(b, 299999999, data));
  ASSERT_TRUE(testing::WriteSectors(b, 1000, std::vector<uint8_t>(65536, 0)));
  EXPECT_TRUE(testing::ImagesEqual(a, b));  // zeros written are the same content as a hole
  EXPECT_TRUE(testing::HasPattern(b, 299999999, 1, testing::Pattern::kRecording, 299999999));
  EXPECT_FALSE(testing::HasPattern(b, 299999999, 1, testing::Pattern::kRecording, 299999998));
  EXPECT_FALSE(testing::HasPattern(b, 299999999, 1, testing::Pattern::kSystem, 299999999));

  std::string c = dir.File("c.img");
  ASSERT_TRUE(testing::CopyImage(b, c));
  EXPECT_TRUE(testing::ImagesEqual(b, c));
  ASSERT_TRUE(testing::WriteBytes(b, 12345 * 512 + 17, std::vector<uint8_t>{1}));
  ::testing::AssertionResult diff = testing::ImagesEqual(a, b);
  EXPECT_FALSE(diff);
  EXPECT_NE(std::string(diff.message()).find("sector 12345 differs"), std::string::npos);
  // The same sector at another place is other content.
  ASSERT_TRUE(testing::WriteSectors(c, 299999998, data));
  EXPECT_NE(testing::ImageHash(a), testing::ImageHash(c));
  EXPECT_FALSE(testing::ImagesEqual(a, c));
}

TEST(DiskImage, RecorderDiskHasWhatWasAskedInEitherOrder) {
  for (bool rtv4000 : {false, true}) {
    SCOPED_TRACE(rtv4000 ? "RTV4000 order" : "standard order");
    testing::TempDir dir;
    std::string path = dir.File("rtv.img");
    testing::ReplayTvDisk disk;
    disk.disk_sectors = 2000000;
    disk.rtv4000 = rtv4000;
    disk.p1_length = 3000;
    disk.layout_sectors = 1500000;
    disk.photo_sectors = 20480;
    disk.recordings = {{500000, 3}};
    ASSERT_TRUE(testing::MakeReplayTvDisk(path, disk));
    EXPECT_EQ(IsRtv4000Order(testing::ReadSectors(path, 0, 1)), rtv4000);
    Sector sector0 = testing::ReadSector(path, 0, rtv4000);
    PartitionEntry p2 = ReadPartitionEntry(sector0, 2);
    PartitionEntry p3 = ReadPartitionEntry(sector0, 3);
    EXPECT_EQ(ReadPartitionEntry(sector0, 1).length, 3000u);
    EXPECT_EQ(p2.start, 3002u);
    EXPECT_EQ(p3.start + p3.length, 1500000u);
    EXPECT_EQ(p2.start + p2.length, p3.start);
    EXPECT_TRUE(testing::HasPattern(path, 2, 3000, testing::Pattern::kSystem, 2));
    EXPECT_TRUE(testing::HasPattern(path, 500000, 3, testing::Pattern::kRecording, 500000));
    FsBlock mpeg = testing::ReadFsBlock(path, 3002ull * 512, rtv4000);
    FsBlock photo = testing::ReadFsBlock(path, uint64_t{p3.start} * 512, rtv4000);
    EXPECT_EQ(GetBe32(mpeg, kSystemClusterSize), 262144u);
    EXPECT_EQ(GetBe32(photo, kSystemClusterSize), 8192u);
    EXPECT_EQ(testing::FileSize(path), 2000000LL * 512);
  }
}

}  // namespace
}  // namespace quillmar
