// The on-disk structures, checked here once: checksum known answers, every byte of each block
// kind the tool builds, the partition entries, the volume sequence block and the byte-order rules.
#include <gtest/gtest.h>

#include <string_view>

#include "format/checksum.h"
#include "format/fs_blocks.h"
#include "format/partition_block.h"
#include "format/volume_sequence.h"
#include "tests/support/disk_image.h"

namespace quillmar {
namespace {

using Bytes = std::vector<uint8_t>;

template <typename Block>
Bytes B(const Block& block) {
  return Bytes(block.begin(), block.end());
}

// The catalogue's check values (input "123456789") from the one engine with other parameters.
TEST(Checksum, KnownAnswers) {
  struct Row {
    const char* name;
    CrcModel model;
    uint32_t check;
  };
  const Row rows[] = {{"Crc16Xmodem", {16, 0x1021, 0, false, false, 0, 0}, 0x31C3},
                      {"Crc16Arc", {16, 0x8005, 0, true, true, 0, 0}, 0xBB3D},
                      {"Crc8", {8, 0x07, 0, false, false, 0, 0}, 0xF4},
                      {"Crc32", {32, 0x04C11DB7, ~0u, true, true, ~0u, 0}, 0xCBF43926}};
  std::string_view text = "123456789";
  Bytes input(text.begin(), text.end());
  for (Row row : rows) {
    SCOPED_TRACE(row.name);
    row.model.Init();
    row.model.NextBlock(input);
    EXPECT_EQ(row.model.Result(), row.check);
  }
  EXPECT_EQ(Crc16(input), 0x31C3);
  EXPECT_EQ(Crc16(Bytes{'A'}), 0x58E5);
  EXPECT_EQ(Crc16(Bytes{}), 0);
}

// A field of a block: width bytes big-endian at offset at.
struct Field {
  size_t at;
  size_t width;
  uint64_t value;
};
using Fields = std::vector<Field>;

constexpr uint64_t kOnes = ~uint64_t{0};
constexpr uint64_t kMpegText = 0x6D70656700000000;     // "mpeg"
constexpr uint64_t kStorageText = 0x73746F7261676500;  // "storage"

Fields Super(uint16_t crc, uint8_t x, uint64_t count, uint32_t cluster, uint64_t label) {
  return {{0, 8, 1},  {8, 4, 312},    {12, 2, crc},   {16, 2, 371},   {18, 1, 0xD2},
          {19, 1, x}, {32, 8, count}, {40, 8, 3},     {48, 8, kOnes}, {56, 4, cluster},
          {60, 4, 1}, {64, 8, 2},     {72, 8, label}, {330, 1, 4}};
}

Fields Dir(uint64_t cluster, uint16_t crc, uint8_t x, uint64_t parent, uint64_t time, Fields more) {
  Fields f = {{0, 8, cluster}, {8, 4, 1000}, {12, 2, crc},    {16, 2, 357},
              {18, 1, 0xD2},   {19, 1, x},   {24, 8, parent}, {32, 8, kOnes},
              {40, 8, time},   {80, 4, 68},  {84, 4, 1}};
  f.insert(f.end(), more.begin(), more.end());
  return f;
}

// The label is cut to 8 bytes, unterminated.
const Fields kSystemFields = {{192, 8, 0x4142434445464748},
                              {256, 8, 1},
                              {264, 8, 0x123456789},
                              {272, 4, 0xC2993D87},
                              {276, 4, 8192},
                              {280, 4, 2},
                              {284, 4, 1024}};

// Where a drive's part lies in the space of the pair, and its size.
Fields Pair(uint64_t index, uint64_t space_offset, uint64_t drive_offset, uint64_t bytes) {
  return {{0, 4, 0xD69EF5A0},    {4, 4, 1},
          {8, 8, index},         {16, 4, 2},
          {24, 8, space_offset}, {32, 8, drive_offset},
          {40, 8, bytes},        {48, 4, 0x04000000},
          {52, 4, 0x08024E83}};
}

struct LayoutRow {
  const char* name;
  Bytes (*build)();
  size_t ff_from;  // bytes from here on are 0xFF (the empty slots of a directory); 0: none
  Fields fields;   // every other byte is zero
};

// Sizes, labels and seals of the recorder's own MPEG and Photo file systems.
const LayoutRow kLayouts[] = {
    {"SystemBlock", [] { return B(BuildSystemBlock("ABCDEFGHIJ", 8192, 0x123456789)); }, 0,
     kSystemFields},
    {"MpegSuperblock", [] { return B(BuildSuperblock("mpeg", 524288, 156295)); }, 0,
     Super(0xB335, 0x1E, 156295, 524288, kMpegText)},
    {"PhotoSuperblock", [] { return B(BuildSuperblock("storage", 8192, 12800)); }, 0,
     Super(0x37F4, 0x5B, 12800, 8192, kStorageText)},
    {"MpegRoot", [] { return B(BuildRootDirectoryBlock(0)); }, 440,
     Dir(3, 0x235F, 0x22, kOnes, 0xEAEBA1864A, {})},
    {"PhotoRoot", [] { return B(BuildRootDirectoryBlock(2)); }, 440,
     Dir(3, 0xF90A, 0xAD, kOnes, 0xEAEBA1864A, {{448, 8, 5}, {480, 8, 7}})},
    {"PhotoTmp", [] { return B(BuildDirectoryBlock(0, "tmp")); }, 440,
     Dir(5, 0x5F0E, 0x09, 3, 0, {{152, 8, 0x746D700000000000}})},
    {"PhotoPhoto", [] { return B(BuildDirectoryBlock(1, "Photo")); }, 440,
     Dir(7, 0x0298, 0xC0, 3, 0xEAEBA1872B, {{152, 8, 0x50686F746F000000}})},
    {"EmptyPartitionBlock", [] { return B(EmptyPartitionBlock()); }, 0, {{510, 2, 0x55AA}}},
    {"VolumeSequenceDrive1", [] { return B(BuildVolumeSequenceBlock(0, 160086528, 267386880)); }, 0,
     Pair(0, 0, 0, 81964302336)},
    {"VolumeSequenceDrive2", [] { return B(BuildVolumeSequenceBlock(1, 160086528, 267386880)); }, 0,
     Pair(1, 81964302336, 1024, 136902082560)},
};

TEST(Blocks, EveryByteOfEachKind) {
  for (const LayoutRow& row : kLayouts) {
    SCOPED_TRACE(row.name);
    Bytes built = row.build();
    Bytes expected(built.size() == kBlockSize ? kBlockSize : kFsBlockSize, 0);
    if (row.ff_from != 0)
      std::fill(expected.begin() + static_cast<ptrdiff_t>(row.ff_from), expected.end(), 0xFF);
    for (const Field& f : row.fields) {
      for (size_t i = 0; i < f.width; ++i)
        expected[f.at + i] = static_cast<uint8_t>(f.value >> (8 * (f.width - 1 - i)));
    }
    EXPECT_BYTES_EQ(expected, built);
  }
}

// The RTV4000 order stores every 32-bit word with its bytes reversed.
TEST(Blocks, MpegRootHeaderInBothOrders) {
  FsBlock block = BuildRootDirectoryBlock(0);
  Bytes standard = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0xE8,
                    0x23, 0x5F, 0x00, 0x00, 0x01, 0x65, 0xD2, 0x22, 0x00, 0x00, 0x00, 0x00};
  Bytes rtv = {0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0xE8, 0x03, 0x00, 0x00,
               0x00, 0x00, 0x5F, 0x23, 0x22, 0xD2, 0x65, 0x01, 0x00, 0x00, 0x00, 0x00};
  EXPECT_BYTES_EQ(standard, Bytes(block.begin(), block.begin() + 24));
  Rtv4000Byteswap(block);
  EXPECT_BYTES_EQ(rtv, Bytes(block.begin(), block.begin() + 24));
}

Sector Noise() {
  Sector s{};
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<uint8_t>(i * 37 + 11);
  return s;
}

// Entry n: type at +4, start and length little-endian at +8 and +12; no other byte changes.
TEST(PartitionBlock, EntriesAtTheirOffsetsOnly) {
  for (int n = 1; n <= 4; ++n) {
    SCOPED_TRACE(n);
    size_t at = 446 + 16 * static_cast<size_t>(n - 1);
    Sector block = Noise();
    Sector expected = block;
    WritePartitionEntry(block, n, {0x4D, 0x11223344, 0xA1B2C3D4});
    Bytes start_length = {0x44, 0x33, 0x22, 0x11, 0xD4, 0xC3, 0xB2, 0xA1};
    std::copy(start_length.begin(), start_length.end(), expected.begin() + at + 8);
    expected[at + 4] = 0x4D;
    EXPECT_BYTES_EQ(expected, block);
    PartitionEntry read = ReadPartitionEntry(block, n);
    EXPECT_EQ(read.type, 0x4D);
    EXPECT_EQ(read.start, 0x11223344u);
    EXPECT_EQ(read.length, 0xA1B2C3D4u);
    ClearPartitionEntry(block, n);
    std::fill_n(expected.begin() + at, 16, 0);
    EXPECT_BYTES_EQ(expected, block);
  }
  EXPECT_EQ(RenderPartitionEntry(2, {0x4D, 4000000000u, 3000000000u}),
            "    Partition 2, type 0x4d, start: 4000000000, length: 3000000000");
}

// The first entry in use decides whether a disk is a PC's own; a sector signed in both orders
// is read in the order in which it is a PC disk.
TEST(PartitionBlock, PcDiskAndByteOrder) {
  for (int type : {0x01, 0x04, 0x05, 0x06, 0x07, 0x0B, 0x0C, 0x0E, 0x0F, 0x82, 0x83, 0xEE, 0xEF})
    EXPECT_TRUE(IsPcPartitionType(static_cast<uint8_t>(type))) << type;
  for (int type : {0x00, 0x4D, 0x02, 0x0A, 0x8E, 0xED, 0xFD})
    EXPECT_FALSE(IsPcPartitionType(static_cast<uint8_t>(type))) << type;
  struct Row {
    uint32_t types;      // of entries 1 to 4, one byte each
    uint32_t p4_length;  // 0x55AA0000 puts AA 55 at 508: signed in both orders
    bool pc;
    bool rtv4000;
  };
  const Row rows[] = {{0x07000000, 0, true, false},
                      {0x000B4D00, 0, true, false},
                      {0x000000EE, 0, true, false},
                      {0x4D070000, 0, false, false},
                      {0, 0, false, false},
                      {0x4D4D0000, 0, false, false},
                      {0x83000000, 0x55AA0000, true, false},
                      {0x4D4D0000, 0x55AA0000, false, true}};
  for (const Row& row : rows) {
    Sector s0 = EmptyPartitionBlock();
    for (int n = 1; n <= 4; ++n) {
      auto type = static_cast<uint8_t>(row.types >> (32 - 8 * n));
      WritePartitionEntry(s0, n, {type, 0, n == 4 ? row.p4_length : 0});
    }
    SCOPED_TRACE(row.types);
    EXPECT_EQ(IsPcDiskLayout(s0), row.pc);
    EXPECT_EQ(IsRtv4000Disk(s0), row.rtv4000);
    Rtv4000Byteswap(s0);
    EXPECT_TRUE(IsRtv4000Disk(s0));
  }
}

TEST(VolumeSequence, PositionAndInvalidation) {
  struct Row {
    uint32_t magic;
    uint32_t count;
    uint64_t index;
    int position;
  };
  const Row rows[] = {{kVolumeSequenceMagic, 2, 0, 1},           {kVolumeSequenceMagic, 2, 1, 2},
                      {kVolumeSequenceMagic, 3, 0, 0},           {kVolumeSequenceMagic, 2, 2, 0},
                      {kVolumeSequenceMagic, 2, 0x100000001, 0}, {0xA0F59ED6, 2, 0, 0}};
  for (const Row& row : rows) {
    Sector block = BuildVolumeSequenceBlock(0, 1000, 2000);
    PutBe32(block, 0, row.magic);
    PutBe32(block, 16, row.count);
    PutBe64(block, 8, row.index);
    EXPECT_EQ(VolumeSequencePosition(block), row.position) << row.count << " " << row.index;
  }
  Sector block = BuildVolumeSequenceBlock(1, 1000, 2000);
  Sector expected = block;
  std::fill_n(expected.begin(), 4, 0);
  InvalidateVolumeSequence(block);
  EXPECT_BYTES_EQ(expected, block);
}

}  // namespace
}  // namespace quillmar
