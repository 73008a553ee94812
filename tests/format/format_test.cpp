// The format layer owns on-disk bytes: every byte of each block kind is checked here once; then
// its two writers on in-memory disks.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "base/log.h"
#include "format/checksum.h"
#include "format/formatter.h"
#include "format/fs_blocks.h"
#include "format/mpeg_reset.h"
#include "format/partition_block.h"
#include "format/volume_sequence.h"
#include "tests/support/copy_fixture.h"

namespace quillmar {
namespace {

using Bytes = std::vector<uint8_t>;

template <typename Block>
Bytes B(const Block& block) {
  return Bytes(block.begin(), block.end());
}

// Check values: Crc16, sealing every block, is CRC-16/XMODEM; CRC-8 shows the width mask.
TEST(Checksum, KnownAnswers) {
  const Bytes input = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Crc16(input), 0x31C3);
  CrcModel crc8{8, 0x07, 0, false, false, 0, 0};
  crc8.Init();
  crc8.NextBlock(input);
  EXPECT_EQ(crc8.Result(), 0xF4u);
}

// Fields of a block: each its offset, its width in bytes, and its value, big-endian.
using Fields = std::vector<std::tuple<size_t, size_t, uint64_t>>;

constexpr uint64_t kOnes = ~uint64_t{0};

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

Fields System(uint64_t label, uint64_t count, uint32_t crc, uint32_t cluster) {
  return {{192, 8, label},   {256, 8, 1}, {264, 8, count}, {272, 4, crc},
          {276, 4, cluster}, {280, 4, 2}, {284, 4, 1024}};
}

// Where a drive's part lies in the space of the pair, and its size.
Fields Pair(uint64_t index, uint64_t space_at, uint64_t drive_at, uint64_t bytes) {
  return {{0, 4, 0xD69EF5A0}, {4, 4, 1},           {8, 8, index},
          {16, 4, 2},         {24, 8, space_at},   {32, 8, drive_at},
          {40, 8, bytes},     {48, 4, 0x04000000}, {52, 4, 0x08024E83}};
}

struct LayoutRow {
  const char* name;
  Bytes (*build)();
  size_t ff_from;  // bytes from here on are 0xFF (the empty slots of a directory); 0: none
  Fields fields;   // every other byte is zero
};

const LayoutRow kLayouts[] = {
    // The label is cut to 8 bytes, unterminated.
    {"SystemBlock", [] { return B(BuildSystemBlock("ABCDEFGHIJ", 8192, 0x123456789)); }, 0,
     System(0x4142434445464748, 0x123456789, 0xC2993D87, 8192)},
    {"MpegSuperblock", [] { return B(BuildSuperblock("mpeg", 524288, 156295)); }, 0,
     Super(0xB335, 0x1E, 156295, 524288, 0x6D70656700000000)},  // "mpeg"
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
    for (auto [at, width, value] : row.fields)
      for (size_t i = 0; i < width; ++i)
        expected[at + i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
    EXPECT_EQ(expected, built);
  }
  // A cluster count beyond 32 bits is stored whole.
  EXPECT_EQ(GetBe64(BuildSuperblock("mpeg", 65536, 0x100000002), kSuperClusterCount), 0x100000002u);
}

// Entry n: type at +4, start and length little-endian at +8 and +12; no other byte changes. The
// first entry in use decides whether a disk is a PC's own; a sector signed in both orders is read
// in the order in which it is a PC disk.
TEST(PartitionBlock, EntriesPcDisksAndByteOrder) {
  for (int n = 1; n <= 4; ++n) {
    SCOPED_TRACE(n);
    const size_t at = 446 + 16 * static_cast<size_t>(n - 1);
    Bytes block = testing::Pattern(512, 0), expected = block;
    WritePartitionEntry(block, n, {0x4D, 0x11223344, 0xA1B2C3D4});
    expected[at + 4] = 0x4D;
    const Bytes start_length = {0x44, 0x33, 0x22, 0x11, 0xD4, 0xC3, 0xB2, 0xA1};
    std::copy(start_length.begin(), start_length.end(), expected.begin() + at + 8);
    EXPECT_EQ(expected, block);
    ClearPartitionEntry(block, n);
    std::fill_n(expected.begin() + at, 16, 0);
    EXPECT_EQ(expected, block);
  }
  EXPECT_EQ(RenderPartitionEntry(2, {0x4D, 4000000000u, 3000000000u}),
            "    Partition 2, type 0x4d, start: 4000000000, length: 3000000000");
  const std::set<int> pc = {0x01, 0x04, 0x05, 0x06, 0x07, 0x0B, 0x0C,
                            0x0E, 0x0F, 0x82, 0x83, 0xEE, 0xEF};
  for (int type = 0; type < 256; ++type)
    EXPECT_EQ(IsPcPartitionType(static_cast<uint8_t>(type)), pc.count(type) == 1) << type;
  // The types of entries 1 to 4 (a byte each), entry 4's length (0x55AA0000 puts AA 55 at 508:
  // signed in both orders), whether it is a PC disk, whether it is read in RTV4000 order.
  const std::tuple<uint32_t, uint32_t, bool, bool> rows[] = {{0x000B4D00, 0, true, false},
                                                             {0x4D070000, 0, false, false},
                                                             {0, 0, false, false},
                                                             {0x83000000, 0x55AA0000, true, false},
                                                             {0x4D4D0000, 0x55AA0000, false, true}};
  for (auto [types, p4_length, pc_disk, rtv4000] : rows) {
    Sector s0 = EmptyPartitionBlock();
    for (int n = 1; n <= 4; ++n) {
      auto type = static_cast<uint8_t>(types >> (32 - 8 * n));
      WritePartitionEntry(s0, n, {type, 0, n == 4 ? p4_length : 0});
    }
    SCOPED_TRACE(types);
    EXPECT_EQ(IsPcDiskLayout(s0), pc_disk);
    EXPECT_EQ(IsRtv4000Disk(s0), rtv4000);
    Rtv4000Byteswap(s0);
    EXPECT_TRUE(IsRtv4000Disk(s0));
  }
}

TEST(VolumeSequence, PositionAndInvalidation) {
  // Magic, drive count, drive index: the position they give.
  const std::tuple<uint32_t, uint32_t, uint64_t, int> rows[] = {
      {kVolumeSequenceMagic, 2, 0, 1},           {kVolumeSequenceMagic, 2, 1, 2},
      {kVolumeSequenceMagic, 3, 0, 0},           {kVolumeSequenceMagic, 2, 2, 0},
      {kVolumeSequenceMagic, 2, 0x100000001, 0}, {0xA0F59ED6, 2, 0, 0}};
  for (auto [magic, count, index, position] : rows) {
    Sector block = BuildVolumeSequenceBlock(0, 1000, 2000);
    PutBe32(block, 0, magic);
    PutBe32(block, 16, count);
    PutBe64(block, 8, index);
    EXPECT_EQ(VolumeSequencePosition(block), position) << count << " " << index;
  }
  Sector block = BuildVolumeSequenceBlock(1, 1000, 2000), expected = block;
  std::fill_n(expected.begin(), 4, 0);
  InvalidateVolumeSequence(block);
  EXPECT_EQ(expected, block);
}

using Fault = void (*)(testing::FakeDevice&);

// Copies block (converted to the disk's order) to offset, when it fits.
template <typename Block>
void Put(Bytes& disk, uint64_t offset, Block block, bool rtv4000) {
  if (rtv4000)
    Rtv4000Byteswap(block);
  if (offset + block.size() <= disk.size())
    std::copy(block.begin(), block.end(), disk.begin() + static_cast<ptrdiff_t>(offset));
}

// Runs act on the in-memory disk "disk" holding bytes, with the fault injected. Done: the expected
// bytes, the done line last and no box. Refused: not a byte written, the refusal last, shown in a
// box unless only logged, and the line logged too. Failed: the expected bytes and no success.
void RunWriter(const Bytes& bytes, const Bytes& expected, const std::vector<uint64_t>& writes,
               Fault fault, const std::function<int()>& act, const char* refusal, bool boxed,
               const std::string& done, const std::string& logged = "") {
  testing::TempDir dir;
  testing::ScriptedFrontEnd ui(true, dir.File("quillmar.log"));
  testing::FakeDeviceIo io;
  testing::FakeDevice& disk = io.Add("disk", 0);
  disk.bytes() = bytes;
  if (fault != nullptr)
    fault(disk);
  const bool succeeds = refusal == nullptr && fault == nullptr;
  EXPECT_EQ(act(), succeeds ? 0 : -1) << ui.Transcript();
  EXPECT_EQ(refusal != nullptr ? bytes : expected, disk.bytes());
  EXPECT_EQ(ui.lines().back() == done, succeeds);
  std::vector<uint64_t> landed;
  for (const testing::WriteCall& call : disk.writes())
    landed.push_back(call.offset);
  EXPECT_TRUE(!succeeds || landed == writes);  // exactly these writes, in this order
  EXPECT_TRUE(fault != nullptr || ui.boxes().size() == (refusal != nullptr && boxed ? 1u : 0u));
  if (refusal != nullptr) {
    EXPECT_TRUE(landed.empty());
    EXPECT_EQ(ui.lines().back().rfind(refusal, 0), 0u) << ui.lines().back();
    EXPECT_TRUE(ui.Logged(logged) || logged.empty()) << logged;
  }
}

constexpr uint64_t kP = 4002 * 512;  // partition 2 after a 4,000-sector partition 1
constexpr const char* kNothing = "*** ERROR: Nothing was written: the ";

struct FormatRow {
  const char* name;
  uint32_t cluster = 524288;
  uint64_t count = 156295;
  size_t dirs = 0;
  const char* refusal = nullptr;
  Fault fault = nullptr;
  std::vector<uint64_t> written = {0, 1, 2, 3, 4};  // clusters receiving their block, in order
  uint64_t device_bytes = 0;                        // 0: room for every block
};

const std::vector<uint64_t> kNineBlocks = {0, 1, 2, 3, 4, 5, 6, 7, 8};
const FormatRow kFormatRows[] = {
    {.name = "Mpeg"},
    {.name = "Photo", .cluster = 8192, .count = 12800, .dirs = 2, .written = kNineBlocks},
    {.name = "Cluster1024", .cluster = 1024, .count = 5000, .dirs = 2, .written = kNineBlocks},
    {.name = "Cluster0", .cluster = 0, .refusal = "*** ERROR: Cluster size 0 is not real"},
    {.name = "Cluster512", .cluster = 512, .refusal = "*** ERROR: Cluster size 512 is not"},
    {.name = "Cluster4194304", .cluster = 4194304, .refusal = "*** ERROR: Cluster size 4194304"},
    {.name = "NineteenDirs", .dirs = 19, .refusal = "*** ERROR: A root directory holds at most 18"},
    {.name = "BlocksBeyondTheClusters", .count = 4, .refusal = kNothing},
    {.name = "DeviceEndsInRoot", .refusal = kNothing, .device_bytes = kP + 3 * 524288 + 512},
    {.name = "WriteFailsAtSuperblock",
     .fault = [](auto& d) { d.FailWriteAt(4002 + 1024); },
     .written = {0, 2, 3, 4}},
    {.name = "FlushFails", .fault = [](auto& d) { d.FailFlush(); }},
    // Open and length, then a seek and a write per block: it vanishes at the root.
    {.name = "VanishesAtRoot", .fault = [](auto& d) { d.VanishAfter(8); }, .written = {0, 1, 2}},
    {.name = "SeekLandsShort", .fault = [](auto& d) { d.SeeksLandOffBy(-512); }, .written = {}},
};

TEST(Writers, Formatter) {
  for (const FormatRow& row : kFormatRows) {
    for (bool rtv4000 : {false, true}) {
      SCOPED_TRACE(std::string(row.name) + (rtv4000 ? " in RTV4000 order" : ""));
      std::vector<std::string> dirs;
      for (size_t i = 0; i < row.dirs; ++i)
        dirs.push_back(i == 0 ? "tmp" : i == 1 ? "Photo" : "d" + std::to_string(i));
      std::string label = dirs.empty() ? "mpeg" : "storage";
      const uint64_t size = kP + (2 * row.dirs + 5) * row.cluster;
      Bytes bytes = testing::Pattern(row.device_bytes != 0 ? row.device_bytes : size, 0);
      Bytes expected = bytes;
      std::vector<uint64_t> offsets;
      for (uint64_t c : row.written) {
        FsBlock block = c == 0  ? BuildSystemBlock(label, row.cluster, row.count)
                        : c < 3 ? BuildSuperblock(label, row.cluster, row.count)
                        : c < 5 ? BuildRootDirectoryBlock(row.dirs)
                                : BuildDirectoryBlock((c - 5) / 2, dirs[(c - 5) / 2]);
        offsets.push_back(kP + c * row.cluster);
        Put(expected, offsets.back(), block, rtv4000);
      }
      RunWriter(
          bytes, expected, offsets, row.fault,
          [&] { return FormatPartition("disk", kP, rtv4000, row.cluster, row.count, label, dirs); },
          row.refusal, true, "*** Partition format complete");
    }
  }
}

constexpr const char* kNotAdjacent =
    "*** ERROR: Partition 2 does not start immediately after partition 1";
constexpr const char* kBadCluster = "*** ERROR: Invalid cluster size for partition 2";
constexpr const char* kBadRoot = "*** ERROR: Root directory cluster number is not valid";
constexpr const char* kSuspicious = "*** ERROR: Suspicious root directory block";
constexpr uint64_t kRoot = 4002 + 3 * 16;  // sectors of the root of clusters of 16 sectors
constexpr uint64_t kCopy = kRoot + 16;

struct ResetRow {
  const char* name;
  uint32_t cluster = 8192;
  uint64_t root = 3;
  const char* refusal = nullptr;
  Fault fault = nullptr;
  int written = 3;  // the emptied root lands at the root (1) and its copy (2)
  uint32_t crc_length = 1000;
  uint32_t p1 = 4000;
  uint32_t p2_start = 4002;
  uint32_t p2_length = 1000000;
  uint64_t disk_bytes = 0;  // 0: room for the root's copy
};

const ResetRow kResetRows[] = {
    {.name = "Root3"},
    {.name = "Cluster1024", .cluster = 1024},
    {.name = "Cluster2097152", .cluster = 2097152},
    {.name = "Cluster512", .cluster = 512, .refusal = kBadCluster},
    {.name = "Cluster132096", .cluster = 132096, .refusal = kBadCluster},
    {.name = "ClusterTopBit", .cluster = 0x80000000, .refusal = kBadCluster},
    {.name = "Root2", .root = 2, .refusal = kBadRoot},
    {.name = "Root101", .root = 101, .refusal = kBadRoot},
    {.name = "RootHighHalf", .root = 0x100000003, .refusal = kBadRoot},
    {.name = "CrcLength999", .refusal = kSuspicious, .crc_length = 999},
    {.name = "CrcLength1001", .refusal = kSuspicious, .crc_length = 1001},
    {.name = "GapAfterPartition1", .refusal = kNotAdjacent, .p2_start = 4003},
    {.name = "InsidePartition1", .refusal = kNotAdjacent, .p2_start = 4001},
    {.name = "P1LengthWraps", .refusal = kNotAdjacent, .p1 = 0xFFFFFFFF, .p2_start = 1},
    // The copy of root 100 ends at byte 828,416 of partition 2: 1,618 sectors.
    {.name = "CopyEndsThePartition", .root = 100, .p2_length = 1618},
    {.name = "CopyPastThePartition", .root = 100, .refusal = kNothing, .p2_length = 1617},
    {.name = "CopyPastTheDisk", .root = 100, .refusal = kNothing, .disk_bytes = kP + 101 * 8192},
    {.name = "DiskEndsInSuper", .refusal = "*** ERROR: Unexpected EOF", .disk_bytes = kP + 8704},
    {.name = "ReadFailsAtRoot", .fault = [](auto& d) { d.FailReadAt(kRoot); }, .written = 0},
    {.name = "WriteFailsAtRoot", .fault = [](auto& d) { d.FailWriteAt(kRoot); }, .written = 2},
    {.name = "WriteFailsAtCopy", .fault = [](auto& d) { d.FailWriteAt(kCopy); }, .written = 1},
    {.name = "FlushFails", .fault = [](auto& d) { d.FailFlush(); }},
    {.name = "FullAtCopy", .fault = [](auto& d) { d.NoSpaceBeyond(kCopy * 512); }, .written = 1},
    // Open, length, four reads of a seek and a read each, the root's seek and write.
    {.name = "VanishesBeforeCopy", .fault = [](auto& d) { d.VanishAfter(12); }, .written = 1},
    {.name = "SeekLandsShort", .fault = [](auto& d) { d.SeeksLandOffBy(-512); }, .written = 0},
};

TEST(Writers, MpegReset) {
  for (const ResetRow& row : kResetRows) {
    for (bool rtv4000 : {false, true}) {
      SCOPED_TRACE(std::string(row.name) + (rtv4000 ? " in RTV4000 order" : ""));
      const uint64_t p = uint64_t{row.p2_start} * kBlockSize, k = row.cluster;
      const uint64_t root_at = p + row.root * k;
      const uint64_t size = std::min(root_at + 2 * k, p + (16 << 20));
      Bytes bytes = testing::Pattern(row.disk_bytes != 0 ? row.disk_bytes : size, 0);
      Sector s0 = EmptyPartitionBlock();
      WritePartitionEntry(s0, 1, {kRecorderPartitionType, 2, row.p1});
      WritePartitionEntry(s0, 2, {kRecorderPartitionType, row.p2_start, row.p2_length});
      Put(bytes, 0, s0, rtv4000);
      Put(bytes, p, BuildSystemBlock("mpeg", row.cluster, 1000), rtv4000);
      FsBlock super = BuildSuperblock("mpeg", row.cluster, 1000);
      PutBe64(super, kSuperRootCluster, row.root);
      Put(bytes, p + k, super, rtv4000);
      // A root that lists a recording, with a name of its own and a stale XOR byte.
      FsBlock root = BuildRootDirectoryBlock(0);
      PutBe32(root, kHeaderCrcLength, row.crc_length);
      PutBe64(root, 448, 12345);
      root[kDirName] = 'x';
      root[kHeaderXor] ^= 0x5A;
      FsBlock emptied = root;
      std::fill(emptied.begin() + kDirSlots, emptied.end(), 0xFF);
      SealBlock(emptied, "");
      Bytes expected = bytes;
      for (int copy = 0; copy < 2; ++copy) {
        Put(bytes, root_at + copy * k, root, rtv4000);
        Put(expected, root_at + copy * k, row.written & (1 << copy) ? emptied : root, rtv4000);
      }
      // A refusal logs the stored lengths, unsigned; a suspicious root is only logged.
      const std::string p1 = Format("  Partition 1 size is %u (0x%x) blocks.", row.p1, row.p1);
      RunWriter(
          bytes, expected, {root_at, root_at + k}, row.fault,
          [] { return ResetMpegPartition("disk"); }, row.refusal, row.refusal != kSuspicious,
          "*** MPEG partition reset is complete", p1);
    }
  }
}

}  // namespace
}  // namespace quillmar
