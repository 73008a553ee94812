// The metadata blocks as the formatter builds them, against the recorder's own byte sequences
// and seals, in both byte orders.
#include "format/fs_blocks.h"

#include <gtest/gtest.h>

#include "format/checksum.h"
#include "tests/format/format_fixture.h"
#include "tests/support/disk_image.h"

namespace quillmar {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Head(const FsBlock& block, size_t n) {
  return Bytes(block.begin(), block.begin() + n);
}

FsBlock InOrder(FsBlock block, bool rtv4000) {
  if (rtv4000)
    Rtv4000Byteswap(block);
  return block;
}

struct SealCase {
  const char* name;
  FsBlock (*build)();
  uint16_t crc;
  uint8_t xor_byte;
};

class SealedBlocks : public ::testing::TestWithParam<SealCase> {};

TEST_P(SealedBlocks, SealToTheRecordersValues) {
  FsBlock block = GetParam().build();
  EXPECT_EQ(GetBe16(block, kHeaderCrc), GetParam().crc);
  EXPECT_EQ(block[kHeaderXor], GetParam().xor_byte);
  // The seal is the check of exactly the stored bytes.
  EXPECT_EQ(Crc16(std::span<const uint8_t>(block).subspan(24, GetBe32(block, kHeaderCrcLength))),
            GetParam().crc);
  EXPECT_EQ(HeaderXor(block), GetParam().xor_byte);
}

INSTANTIATE_TEST_SUITE_P(
    Golden, SealedBlocks,
    ::testing::Values(
        SealCase{"MpegSuperblock", [] { return BuildSuperblock("mpeg", 524288, 156295); }, 0xB335,
                 0x1E},
        SealCase{"StorageSuperblock", [] { return BuildSuperblock("storage", 8192, 12800); },
                 0x37F4, 0x5B},
        SealCase{"MpegRoot", [] { return BuildRootDirectoryBlock(0); }, 0x235F, 0x22},
        SealCase{"PhotoRoot", [] { return BuildRootDirectoryBlock(2); }, 0xF90A, 0xAD},
        SealCase{"PhotoTmp", [] { return BuildDirectoryBlock(0, "tmp"); }, 0x5F0E, 0x09},
        SealCase{"PhotoPhoto", [] { return BuildDirectoryBlock(1, "Photo"); }, 0x0298, 0xC0}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

class StoredBytes : public ::testing::TestWithParam<bool> {
 protected:
  bool rtv4000() const { return GetParam(); }
};

TEST_P(StoredBytes, MpegRootHeader) {
  FsBlock stored = InOrder(BuildRootDirectoryBlock(0), rtv4000());
  Bytes standard = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0xE8,
                    0x23, 0x5F, 0x00, 0x00, 0x01, 0x65, 0xD2, 0x22, 0x00, 0x00, 0x00, 0x00};
  Bytes rtv = {0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0xE8, 0x03, 0x00, 0x00,
               0x00, 0x00, 0x5F, 0x23, 0x22, 0xD2, 0x65, 0x01, 0x00, 0x00, 0x00, 0x00};
  EXPECT_BYTES_EQ(rtv4000() ? rtv : standard, Head(stored, 24));
}

TEST_P(StoredBytes, SystemBlockLabelAndMagic) {
  FsBlock stored = InOrder(BuildSystemBlock("mpeg", 524288, 156295), rtv4000());
  Bytes label(stored.begin() + 192, stored.begin() + 200);
  Bytes magic(stored.begin() + 272, stored.begin() + 276);
  Bytes size(stored.begin() + 276, stored.begin() + 280);
  if (rtv4000()) {
    EXPECT_BYTES_EQ((Bytes{'g', 'e', 'p', 'm', 0, 0, 0, 0}), label);
    EXPECT_BYTES_EQ((Bytes{0x87, 0x3D, 0x99, 0xC2}), magic);
    EXPECT_BYTES_EQ((Bytes{0x00, 0x00, 0x08, 0x00}), size);
  } else {
    EXPECT_BYTES_EQ((Bytes{'m', 'p', 'e', 'g', 0, 0, 0, 0}), label);
    EXPECT_BYTES_EQ((Bytes{0xC2, 0x99, 0x3D, 0x87}), magic);
    EXPECT_BYTES_EQ((Bytes{0x00, 0x08, 0x00, 0x00}), size);
  }
}

INSTANTIATE_TEST_SUITE_P(BothOrders, StoredBytes, ::testing::Bool(), testing::ByteOrderNames());

// Every byte of the system block: the listed fields and zeros elsewhere.
TEST(SystemBlock, WholeLayout) {
  FsBlock block = BuildSystemBlock("storage", 8192, 0x123456789ull);
  FsBlock expected{};
  const char label[] = "storage";
  std::copy(label, label + 7, expected.begin() + 192);
  expected[263] = 1;
  Bytes count = {0x00, 0x00, 0x00, 0x01, 0x23, 0x45, 0x67, 0x89};
  std::copy(count.begin(), count.end(), expected.begin() + 264);
  Bytes tail = {0xC2, 0x99, 0x3D, 0x87, 0x00, 0x00, 0x20, 0x00,
                0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x04, 0x00};
  std::copy(tail.begin(), tail.end(), expected.begin() + 272);
  EXPECT_BYTES_EQ(expected, block);
}

TEST(Superblock, FieldsCountAndRange) {
  // A cluster count above 32 bits is stored whole; the label fills its 8 bytes unterminated.
  FsBlock block = BuildSuperblock("ABCDEFGHIJ", 65536, 0x100000002ull);
  EXPECT_EQ(GetBe64(block, kHeaderCluster), 1u);
  EXPECT_EQ(GetBe32(block, kHeaderCrcLength), 312u);
  EXPECT_EQ(GetBe16(block, kHeaderKind), 0x173);
  EXPECT_EQ(block[kHeaderMarker], 0xD2);
  EXPECT_EQ(GetBe64(block, kSuperClusterCount), 0x100000002ull);
  EXPECT_EQ(GetBe64(block, kSuperRootCluster), 3u);
  EXPECT_EQ(GetBe64(block, 48), ~uint64_t{0});
  EXPECT_EQ(GetBe32(block, kSuperClusterSize), 65536u);
  EXPECT_EQ(GetBe32(block, 60), 1u);
  EXPECT_EQ(GetBe64(block, 64), 2u);
  EXPECT_BYTES_EQ((Bytes{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 0}),
                  Bytes(block.begin() + 72, block.begin() + 81));
  EXPECT_EQ(block[330], 4);
  EXPECT_TRUE(std::all_of(block.begin() + 331, block.end(), [](uint8_t b) { return b == 0; }));

  FsBlock system = BuildSystemBlock("ABCDEFGHIJ", 65536, 0x100000002ull);
  EXPECT_EQ(GetBe64(system, kSystemClusterCount), 0x100000002ull);
  EXPECT_EQ(system[200], 0);
  EXPECT_EQ(system[199], 'H');
}

TEST(DirectoryBlock, PhotoRootListsItsDirectories) {
  FsBlock root = BuildRootDirectoryBlock(2);
  EXPECT_EQ(GetBe64(root, kHeaderCluster), 3u);
  EXPECT_EQ(GetBe64(root, kDirParent), ~uint64_t{0});
  EXPECT_EQ(GetBe64(root, kDirTimeMs), 1008975578698ull);
  EXPECT_EQ(GetBe64(root, kDirSlots), ~uint64_t{0});
  EXPECT_EQ(GetBe64(root, 448), 5u);
  EXPECT_EQ(GetBe64(root, 480), 7u);
  EXPECT_TRUE(
      std::all_of(root.begin() + 456, root.begin() + 480, [](uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(std::all_of(root.begin() + 512, root.end(), [](uint8_t b) { return b == 0xFF; }));

  FsBlock tmp = BuildDirectoryBlock(0, "tmp");
  FsBlock photo = BuildDirectoryBlock(1, "Photo");
  EXPECT_EQ(GetBe64(tmp, kHeaderCluster), 5u);
  EXPECT_EQ(GetBe64(photo, kHeaderCluster), 7u);
  EXPECT_EQ(GetBe64(tmp, kDirParent), 3u);
  EXPECT_EQ(GetBe64(tmp, kDirTimeMs), 0u);
  EXPECT_EQ(GetBe64(photo, kDirTimeMs), 1008975578923ull);
  EXPECT_EQ(GetBe32(photo, 80), 68u);
  EXPECT_EQ(GetBe32(photo, 84), 1u);
  EXPECT_BYTES_EQ((Bytes{'P', 'h', 'o', 't', 'o', 0}),
                  Bytes(photo.begin() + 152, photo.begin() + 158));
  EXPECT_TRUE(
      std::all_of(photo.begin() + kDirSlots, photo.end(), [](uint8_t b) { return b == 0xFF; }));
}

}  // namespace
}  // namespace quillmar
