// The two writers of this layer on in-memory disks in both byte orders: the formatter and the MPEG
// reset. Each row names the blocks that must land and nothing else may change; every refusal
// leaves every byte as it was, and no fault is ever reported as success.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/log.h"
#include "format/checksum.h"
#include "format/formatter.h"
#include "format/fs_blocks.h"
#include "format/mpeg_reset.h"
#include "format/partition_block.h"
#include "tests/support/disk_image.h"
#include "tests/support/fake_device.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::FakeDevice;

using Fault = void (*)(FakeDevice&);

// Recognisable bytes everywhere, so that any stray write shows.
Bytes Filled(uint64_t size) {
  Bytes bytes(size);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<uint8_t>(i * 7 + i / 512);
  return bytes;
}

// Copies block (converted to the disk's order) to offset, when it fits.
template <typename Block>
void Put(Bytes& disk, uint64_t offset, Block block, bool rtv4000) {
  if (rtv4000)
    Rtv4000Byteswap(block);
  if (offset + block.size() <= disk.size())
    std::copy(block.begin(), block.end(), disk.begin() + static_cast<ptrdiff_t>(offset));
}

class Writers : public ::testing::Test {
 protected:
  // Runs act on the in-memory disk "disk" holding bytes, with the fault injected. Done: the
  // expected bytes, the done line last and no box. Refused: not a byte written, the refusal last,
  // shown in a box unless only logged. Failed: the expected bytes and no success. Returns where
  // the writes went.
  std::vector<uint64_t> Run(const Bytes& bytes, const Bytes& expected, Fault fault,
                            const std::function<int()>& act, const char* refusal, bool boxed,
                            const std::string& done) {
    testing::FakeDeviceIo io;
    FakeDevice& disk = io.Add("disk", 0);
    disk.bytes() = bytes;
    if (fault != nullptr)
      fault(disk);
    size_t boxes = ui_.boxes().size();
    bool succeeds = refusal == nullptr && fault == nullptr;
    EXPECT_EQ(act(), succeeds ? 0 : -1) << ui_.Transcript();
    EXPECT_BYTES_EQ(refusal != nullptr ? bytes : expected, disk.bytes());
    EXPECT_EQ(ui_.lines().back() == done, succeeds);
    if (succeeds) {
      EXPECT_EQ(ui_.boxes().size(), boxes);
    }
    if (refusal != nullptr) {
      EXPECT_TRUE(disk.writes().empty());
      EXPECT_EQ(ui_.lines().back().rfind(refusal, 0), 0u) << ui_.lines().back();
      EXPECT_EQ(ui_.boxes().size(), boxes + (boxed ? 1 : 0));
    }
    std::vector<uint64_t> offsets;
    for (const testing::WriteCall& call : disk.writes())
      offsets.push_back(call.offset);
    return offsets;
  }

  testing::TempDir dir_;
  testing::ScriptedFrontEnd ui_{true, dir_.File("quillmar.log")};
};

constexpr uint64_t kP = 4002 * 512;  // partition 2 after a 4,000-sector partition 1
constexpr uint64_t kMpegK = 524288;
constexpr const char* kNothing = "*** ERROR: Nothing was written: the ";

void FlushFails(FakeDevice& disk) {
  disk.FailFlush();
}
void SeekLandsShort(FakeDevice& disk) {
  disk.SeeksLandOffBy(-512);
}

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
    {.name = "Cluster1536", .cluster = 1536, .refusal = "*** ERROR: Cluster size 1536 is not"},
    {.name = "Cluster4194304", .cluster = 4194304, .refusal = "*** ERROR: Cluster size 4194304"},
    {.name = "NineteenDirs", .dirs = 19, .refusal = "*** ERROR: A root directory holds at most 18"},
    {.name = "BlocksBeyondTheClusters", .count = 4, .refusal = kNothing},
    {.name = "DeviceEndsInRoot", .refusal = kNothing, .device_bytes = kP + 3 * kMpegK + 512},
    {.name = "WriteFailsAtSuperblock",
     .fault = [](FakeDevice& d) { d.FailWriteAt(4002 + 1024); },
     .written = {0, 2, 3, 4}},
    {.name = "FlushFails", .fault = FlushFails},
    {.name = "FullAtRoot",
     .fault = [](FakeDevice& d) { d.NoSpaceBeyond(kP + 3 * kMpegK); },
     .written = {0, 1, 2}},
    // Open and length, then a seek and a write per block: it vanishes at the root.
    {.name = "VanishesAtRoot",
     .fault = [](FakeDevice& d) { d.VanishAfter(8); },
     .written = {0, 1, 2}},
    {.name = "SeekLandsShort", .fault = SeekLandsShort, .written = {}},
};

TEST_F(Writers, Formatter) {
  for (const FormatRow& row : kFormatRows) {
    for (bool rtv4000 : {false, true}) {
      SCOPED_TRACE(std::string(row.name) + (rtv4000 ? " in RTV4000 order" : ""));
      std::vector<std::string> dirs;
      for (size_t i = 0; i < row.dirs; ++i)
        dirs.push_back(i == 0 ? "tmp" : i == 1 ? "Photo" : "d" + std::to_string(i));
      std::string label = dirs.empty() ? "mpeg" : "storage";
      Bytes bytes =
          Filled(row.device_bytes != 0 ? row.device_bytes : kP + (2 * row.dirs + 5) * row.cluster);
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
      std::vector<uint64_t> landed = Run(
          bytes, expected, row.fault,
          [&] { return FormatPartition("disk", kP, rtv4000, row.cluster, row.count, label, dirs); },
          row.refusal, true, "*** Partition format complete");
      if (row.refusal == nullptr && row.fault == nullptr) {
        EXPECT_EQ(landed, offsets);
      }
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
  bool boxed = true;  // the refusal is shown, not only logged
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
    {.name = "Root100", .root = 100},
    {.name = "Cluster1024", .cluster = 1024},
    {.name = "Cluster2097152", .cluster = 2097152},
    {.name = "Cluster512", .cluster = 512, .refusal = kBadCluster},
    {.name = "Cluster132096", .cluster = 132096, .refusal = kBadCluster},
    {.name = "Cluster4194304", .cluster = 4194304, .refusal = kBadCluster},
    {.name = "ClusterTopBit", .cluster = 0x80000000, .refusal = kBadCluster},
    {.name = "Root2", .root = 2, .refusal = kBadRoot},
    {.name = "Root101", .root = 101, .refusal = kBadRoot},
    {.name = "RootHighHalf", .root = 0x100000003, .refusal = kBadRoot},
    {.name = "CrcLength999", .refusal = kSuspicious, .boxed = false, .crc_length = 999},
    {.name = "CrcLength1001", .refusal = kSuspicious, .boxed = false, .crc_length = 1001},
    {.name = "GapAfterPartition1", .refusal = kNotAdjacent, .p2_start = 4003},
    {.name = "InsidePartition1", .refusal = kNotAdjacent, .p2_start = 4001},
    {.name = "P1LengthWraps", .refusal = kNotAdjacent, .p1 = 0xFFFFFFFF, .p2_start = 1},
    // The copy of root 100 ends at byte 828,416 of partition 2: 1,618 sectors.
    {.name = "CopyEndsThePartition", .root = 100, .p2_length = 1618},
    {.name = "CopyPastThePartition", .root = 100, .refusal = kNothing, .p2_length = 1617},
    {.name = "CopyPastTheDisk", .root = 100, .refusal = kNothing, .disk_bytes = kP + 101 * 8192},
    {.name = "DiskEndsInSuperblock",
     .refusal = "*** ERROR: Unexpected EOF",
     .disk_bytes = kP + 8192 + 512},
    {.name = "ReadFailsAtRoot", .fault = [](FakeDevice& d) { d.FailReadAt(kRoot); }, .written = 0},
    {.name = "WriteFailsAtRoot",
     .fault = [](FakeDevice& d) { d.FailWriteAt(kRoot); },
     .written = 2},
    {.name = "WriteFailsAtCopy",
     .fault = [](FakeDevice& d) { d.FailWriteAt(kCopy); },
     .written = 1},
    {.name = "FlushFails", .fault = FlushFails},
    {.name = "FullAtCopy",
     .fault = [](FakeDevice& d) { d.NoSpaceBeyond(kCopy * 512); },
     .written = 1},
    // Open, length, four reads of a seek and a read each, the root's seek and write.
    {.name = "VanishesBeforeCopy", .fault = [](FakeDevice& d) { d.VanishAfter(12); }, .written = 1},
    {.name = "SeekLandsShort", .fault = SeekLandsShort, .written = 0},
};

TEST_F(Writers, MpegReset) {
  for (const ResetRow& row : kResetRows) {
    for (bool rtv4000 : {false, true}) {
      SCOPED_TRACE(std::string(row.name) + (rtv4000 ? " in RTV4000 order" : ""));
      uint64_t p = uint64_t{row.p2_start} * kBlockSize;
      uint64_t k = row.cluster;
      uint64_t root_at = p + row.root * k;
      Bytes bytes =
          Filled(row.disk_bytes != 0 ? row.disk_bytes : std::min(root_at + 2 * k, p + (16 << 20)));
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
      Put(bytes, root_at, root, rtv4000);
      Put(bytes, root_at + k, root, rtv4000);
      FsBlock emptied = root;
      std::fill(emptied.begin() + kDirSlots, emptied.end(), 0xFF);
      SealBlock(emptied, "");
      Bytes expected = bytes;
      for (int copy = 0; copy < 2; ++copy) {
        if (row.written & (1 << copy))
          Put(expected, root_at + copy * k, emptied, rtv4000);
      }
      Run(
          bytes, expected, row.fault, [] { return ResetMpegPartition("disk"); }, row.refusal,
          row.boxed, "*** MPEG partition reset is complete");
      if (row.refusal != nullptr) {  // stored lengths show unsigned
        EXPECT_TRUE(ui_.Logged(Format("  Partition 1 size is %u (0x%x) blocks.", row.p1, row.p1)));
      }
    }
  }
}

}  // namespace
}  // namespace quillmar
