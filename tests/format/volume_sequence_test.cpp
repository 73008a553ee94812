#include "format/volume_sequence.h"

#include <gtest/gtest.h>

#include "tests/support/disk_image.h"

namespace quillmar {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Range(const Sector& s, size_t from, size_t n) {
  return Bytes(s.begin() + from, s.begin() + from + n);
}

TEST(VolumeSequence, PairOfTheRecordersExample) {
  Sector first = BuildVolumeSequenceBlock(0, 160086528, 267386880);
  Sector second = BuildVolumeSequenceBlock(1, 160086528, 267386880);
  for (const Sector* s : {&first, &second}) {
    EXPECT_EQ(GetBe32(*s, 0), 0xD69EF5A0u);
    EXPECT_EQ(GetBe32(*s, 4), 1u);
    EXPECT_EQ(GetBe32(*s, 16), 2u);
    EXPECT_EQ(GetBe32(*s, 20), 0u);
    EXPECT_EQ(GetBe32(*s, 48), 0x04000000u);
    EXPECT_EQ(GetBe32(*s, 52), 0x08024E83u);
    EXPECT_TRUE(std::all_of(s->begin() + 56, s->end(), [](uint8_t b) { return b == 0; }));
  }
  EXPECT_EQ(GetBe64(first, 8), 0u);
  EXPECT_EQ(GetBe64(first, 24), 0u);
  EXPECT_EQ(GetBe64(first, 32), 0u);
  EXPECT_EQ(GetBe64(first, 40), 160086528ull * 512);
  EXPECT_EQ(GetBe64(second, 8), 1u);
  EXPECT_EQ(GetBe64(second, 24), 81964302336ull);
  EXPECT_EQ(GetBe64(second, 32), 1024u);
  EXPECT_EQ(GetBe64(second, 40), 136902082560ull);
  EXPECT_EQ(VolumeSequencePosition(first), 1);
  EXPECT_EQ(VolumeSequencePosition(second), 2);
}

TEST(VolumeSequence, StoredBytesInBothOrders) {
  Sector second = BuildVolumeSequenceBlock(1, 160086528, 267386880);
  EXPECT_BYTES_EQ((Bytes{0xD6, 0x9E, 0xF5, 0xA0}), Range(second, 0, 4));
  EXPECT_BYTES_EQ((Bytes{0, 0, 0, 0, 0, 0, 0, 1}), Range(second, 8, 8));
  // space_offset 81,964,302,336 = 0x13_1574_0000, drive_bytes 0x1F_E000_0000.
  EXPECT_BYTES_EQ((Bytes{0, 0, 0, 0x13, 0x15, 0x74, 0, 0}), Range(second, 24, 8));
  EXPECT_BYTES_EQ((Bytes{0, 0, 0, 0x1F, 0xE0, 0, 0, 0}), Range(second, 40, 8));

  Sector stored = second;
  Rtv4000Byteswap(stored);
  EXPECT_BYTES_EQ((Bytes{0xA0, 0xF5, 0x9E, 0xD6}), Range(stored, 0, 4));
  EXPECT_BYTES_EQ((Bytes{0, 0, 0, 0, 1, 0, 0, 0}), Range(stored, 8, 8));
  EXPECT_BYTES_EQ((Bytes{0x13, 0, 0, 0, 0, 0, 0x74, 0x15}), Range(stored, 24, 8));
}

struct PositionCase {
  const char* name;
  uint32_t magic;
  uint32_t count;
  uint64_t index;
  int position;
};

class Position : public ::testing::TestWithParam<PositionCase> {};

TEST_P(Position, OnlyAValidPairBlockCounts) {
  Sector block = BuildVolumeSequenceBlock(0, 1000, 2000);
  PutBe32(block, 0, GetParam().magic);
  PutBe32(block, 16, GetParam().count);
  PutBe64(block, 8, GetParam().index);
  EXPECT_EQ(VolumeSequencePosition(block), GetParam().position);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Position,
    ::testing::Values(PositionCase{"First", kVolumeSequenceMagic, 2, 0, 1},
                      PositionCase{"Second", kVolumeSequenceMagic, 2, 1, 2},
                      PositionCase{"ThreeDrives", kVolumeSequenceMagic, 3, 0, 0},
                      PositionCase{"IndexTwo", kVolumeSequenceMagic, 2, 2, 0},
                      PositionCase{"HighHalfOfIndex", kVolumeSequenceMagic, 2, 0x100000001ull, 0},
                      PositionCase{"ClearedMagic", 0, 2, 1, 0},
                      PositionCase{"SwappedMagic", 0xA0F59ED6u, 2, 0, 0}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(VolumeSequence, InvalidateClearsOnlyTheMagic) {
  Sector block = BuildVolumeSequenceBlock(1, 1000, 2000);
  Sector expected = block;
  std::fill_n(expected.begin(), 4, uint8_t{0});
  InvalidateVolumeSequence(block);
  EXPECT_BYTES_EQ(expected, block);
  EXPECT_EQ(VolumeSequencePosition(block), 0);
}

}  // namespace
}  // namespace quillmar
