#include "format/checksum.h"

#include <gtest/gtest.h>

#include <string_view>

#include "base/byte_order.h"
#include "tests/support/disk_image.h"
#include "tests/support/param_names.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

std::vector<uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

struct CrcCase {
  std::string_view input;
  uint16_t crc;
};

class Crc16CheckValues : public ::testing::TestWithParam<CrcCase> {};

TEST_P(Crc16CheckValues, MatchTheCatalogue) {
  EXPECT_EQ(Crc16(Bytes(GetParam().input)), GetParam().crc);
}

INSTANTIATE_TEST_SUITE_P(Catalogue, Crc16CheckValues,
                         ::testing::Values(CrcCase{"123456789", 0x31C3}, CrcCase{"abc", 0x9DD6},
                                           CrcCase{"", 0},
                                           CrcCase{std::string_view("\0\0\0", 3), 0},
                                           CrcCase{"A", 0x58E5}),
                         [](const ::testing::TestParamInfo<CrcCase>& row) {
                           const std::string_view input = row.param.input;
                           return input.empty() || input[0] == '\0'
                                      ? testing::NameFromNumber("Bytes", std::ssize(input))
                                      : testing::NameFromText(input);
                         });

TEST(CrcModel, GeneralEngineGivesOtherCatalogueModels) {
  // The same engine with reflection and a 32-bit width: the catalogue's CRC-32 check value.
  CrcModel crc32{32, 0x04C11DB7u, 0xFFFFFFFFu, true, true, 0xFFFFFFFFu, 0};
  crc32.Init();
  crc32.NextBlock(Bytes("123456789"));
  EXPECT_EQ(crc32.Result(), 0xCBF43926u);
}

class SealBlockTest : public ::testing::Test {
 protected:
  // A superblock-like block: crc_length 312, marker, arbitrary body.
  FsBlock MakeBlock() {
    FsBlock block{};
    PutBe64(block, kHeaderCluster, 1);
    PutBe32(block, kHeaderCrcLength, 312);
    PutBe16(block, kHeaderKind, 371);
    block[kHeaderMarker] = 0xD2;
    for (size_t i = kHeaderSize; i < block.size(); ++i)
      block[i] = static_cast<uint8_t>(i * 13);
    return block;
  }
  testing::TempDir dir_;
  testing::ScriptedFrontEnd front_end_{true, dir_.File("quillmar.log")};
};

TEST_F(SealBlockTest, CrcCoversExactlyCrcLengthBytesFrom24) {
  FsBlock block = MakeBlock();
  SealBlock(block);
  uint16_t crc = GetBe16(block, kHeaderCrc);
  EXPECT_EQ(crc, Crc16(std::span<const uint8_t>(block).subspan(24, 312)));

  FsBlock after = MakeBlock();
  after[336] ^= 0xFF;  // outside the covered range
  after[1023] ^= 0xFF;
  SealBlock(after);
  EXPECT_EQ(GetBe16(after, kHeaderCrc), crc);

  FsBlock inside = MakeBlock();
  inside[335] ^= 0x01;  // last covered byte
  SealBlock(inside);
  EXPECT_NE(GetBe16(inside, kHeaderCrc), crc);
  FsBlock first = MakeBlock();
  first[24] ^= 0x01;  // first covered byte
  SealBlock(first);
  EXPECT_NE(GetBe16(first, kHeaderCrc), crc);
}

TEST_F(SealBlockTest, XorCoversHeaderWithNewCrcButNotItself) {
  FsBlock block = MakeBlock();
  block[kHeaderXor] = 0x77;  // a stale XOR byte must not enter the new one
  block[12] = 0xEE;          // nor a stale CRC
  SealBlock(block);
  uint8_t x = 0;
  for (size_t i = 0; i < 19; ++i)
    x ^= block[i];
  EXPECT_EQ(block[kHeaderXor], x);
  EXPECT_EQ(HeaderXor(block), x);

  FsBlock again = block;
  SealBlock(again);
  EXPECT_BYTES_EQ(block, again);
}

TEST_F(SealBlockTest, LogsWithTheCallersIndent) {
  FsBlock block = MakeBlock();
  SealBlock(block);
  SealBlock(block, "  ");
  uint16_t crc = GetBe16(block, kHeaderCrc);
  char crc_text[32];
  std::snprintf(crc_text, sizeof crc_text, "0x%04x", crc);
  char xor_text[32];
  std::snprintf(xor_text, sizeof xor_text, "0x%02x", block[kHeaderXor]);
  EXPECT_EQ(front_end_.lines(),
            (std::vector<std::string>{
                std::string("     CRC is ") + crc_text, std::string("     XOR byte is ") + xor_text,
                std::string("  CRC is ") + crc_text, std::string("  XOR byte is ") + xor_text}));
}

}  // namespace
}  // namespace quillmar
