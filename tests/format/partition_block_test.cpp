#include "format/partition_block.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/disk_image.h"
#include "tests/support/param_names.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

using Bytes = std::vector<uint8_t>;

Sector Noise() {
  Sector s{};
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<uint8_t>(i * 37 + 11);
  return s;
}

class EntryAt : public ::testing::TestWithParam<int> {
 protected:
  int n() const { return GetParam(); }
  size_t base() const { return 446 + 16 * static_cast<size_t>(n() - 1); }
};

TEST_P(EntryAt, FieldsAtTheirUnalignedOffsetsOnly) {
  Sector before = Noise();
  Sector block = before;
  WritePartitionEntry(block, n(), {0x4D, 0x11223344, 0xA1B2C3D4});

  Sector expected = before;
  expected[base() + 4] = 0x4D;
  Bytes start = {0x44, 0x33, 0x22, 0x11};
  Bytes length = {0xD4, 0xC3, 0xB2, 0xA1};
  std::copy(start.begin(), start.end(), expected.begin() + base() + 8);
  std::copy(length.begin(), length.end(), expected.begin() + base() + 12);
  EXPECT_BYTES_EQ(expected, block);  // bytes 0-3 and 5-7, neighbours, signature all kept

  PartitionEntry read = ReadPartitionEntry(block, n());
  EXPECT_EQ(read.type, 0x4D);
  EXPECT_EQ(read.start, 0x11223344u);
  EXPECT_EQ(read.length, 0xA1B2C3D4u);
}

TEST_P(EntryAt, ClearZeroesAllSixteenBytesAndNothingElse) {
  Sector before = Noise();
  Sector block = before;
  ClearPartitionEntry(block, n());
  Sector expected = before;
  std::fill_n(expected.begin() + base(), 16, uint8_t{0});
  EXPECT_BYTES_EQ(expected, block);
  EXPECT_EQ(ReadPartitionEntry(block, n()).length, 0u);
}

TEST_P(EntryAt, RoundTripRewritesIdenticalBytes) {
  Sector block = Noise();
  Sector copy = block;
  WritePartitionEntry(copy, n(), ReadPartitionEntry(block, n()));
  EXPECT_BYTES_EQ(block, copy);
}

INSTANTIATE_TEST_SUITE_P(Entries, EntryAt, ::testing::Values(1, 2, 3, 4),
                         testing::NumberName{"Entry"});

TEST(ByteOrder, OrderTestLooksOnlyAtBytes508And509) {
  Sector standard = EmptyPartitionBlock();
  EXPECT_FALSE(IsRtv4000Order(standard));
  Sector stored = standard;
  Rtv4000Byteswap(stored);
  EXPECT_EQ(stored[508], 0xAA);
  EXPECT_EQ(stored[509], 0x55);
  EXPECT_TRUE(IsRtv4000Order(stored));
  Sector swapped_halves{};
  swapped_halves[508] = 0x55;
  swapped_halves[509] = 0xAA;
  EXPECT_FALSE(IsRtv4000Order(swapped_halves));
  Sector no_signature{};  // 510-511 are not examined
  no_signature[508] = 0xAA;
  no_signature[509] = 0x55;
  EXPECT_TRUE(IsRtv4000Order(no_signature));
}

TEST(ByteOrder, SwapsAndBlockConversion) {
  EXPECT_EQ(Swap32(0xD69EF5A0u), 0xA0F59ED6u);
  EXPECT_EQ(Swap16(0x0165), 0x6501);
  EXPECT_EQ(Swap64(0x0102030405060708ull), 0x0807060504030201ull);
  std::vector<uint8_t> block(1024);
  for (size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<uint8_t>(i);
  std::vector<uint8_t> once = block;
  Rtv4000Byteswap(once);
  EXPECT_BYTES_EQ((Bytes{3, 2, 1, 0, 7, 6, 5, 4}), Bytes(once.begin(), once.begin() + 8));
  EXPECT_BYTES_EQ((Bytes{255, 254, 253, 252}), Bytes(once.end() - 4, once.end()));
  Rtv4000Byteswap(once);
  EXPECT_BYTES_EQ(block, once);
}

TEST(PartitionEntry, RenderedAsTheLogShowsIt) {
  EXPECT_EQ(RenderPartitionEntry(3, {0x4D, 1234567, 204800}),
            "    Partition 3, type 0x4d, start: 1234567, length: 204800");
  EXPECT_EQ(RenderPartitionEntry(4, {}), "    Partition 4, type 0x00, start: 0, length: 0");
  EXPECT_EQ(RenderPartitionEntry(2, {0x4D, 4000000000u, 3000000000u}),
            "    Partition 2, type 0x4d, start: 4000000000, length: 3000000000");
}

TEST(PartitionBlock, PcTypesMarkASystemDisk) {
  for (int type : {0x01, 0x04, 0x05, 0x06, 0x07, 0x0B, 0x0C, 0x0E, 0x0F, 0x82, 0x83, 0xEE, 0xEF}) {
    EXPECT_TRUE(IsPcPartitionType(static_cast<uint8_t>(type))) << type;
  }
  for (int type : {0x00, 0x4D, 0x02, 0x0A, 0x8E, 0xFD}) {
    EXPECT_FALSE(IsPcPartitionType(static_cast<uint8_t>(type))) << type;
  }
}

// An independent reader agrees with the entries we write (standard order only: sfdisk knows
// nothing of the other one).
TEST(PartitionBlock, SfdiskReadsWhatWeWrite) {
  QUILLMAR_REQUIRE_TOOL("sfdisk");
  testing::TempDir dir;
  std::string path = dir.File("rtv.img");
  ASSERT_TRUE(testing::MakeBlankImage(path, 400000));
  Sector block = EmptyPartitionBlock();
  WritePartitionEntry(block, 1, {0x4D, 2, 40000});
  WritePartitionEntry(block, 2, {0x4D, 40002, 300000});
  WritePartitionEntry(block, 3, {0x4D, 340002, 59998});
  ASSERT_TRUE(testing::WriteSectors(path, 0, block));

  std::string command = "sfdisk --dump '" + path + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string dump;
  char line[256];
  while (std::fgets(line, sizeof line, pipe) != nullptr)
    dump += line;
  ASSERT_EQ(::pclose(pipe), 0) << dump;
  auto has = [&](const std::string& text) { return dump.find(text) != std::string::npos; };
  EXPECT_TRUE(has("rtv.img1 : start=           2, size=       40000, type=4d")) << dump;
  EXPECT_TRUE(has("rtv.img2 : start=       40002, size=      300000, type=4d")) << dump;
  EXPECT_TRUE(has("rtv.img3 : start=      340002, size=       59998, type=4d")) << dump;
}

}  // namespace
}  // namespace quillmar
