// The MPEG partition reset on image files in both byte orders: the emptied root directory and
// its copy, every refusal leaving the disk untouched, and faults through the descriptor seam.
#include "format/mpeg_reset.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <optional>

#include "base/log.h"
#include "format/checksum.h"
#include "format/fs_blocks.h"
#include "format/partition_block.h"
#include "tests/format/format_fixture.h"
#include "tests/support/disk_image.h"

namespace quillmar {
namespace {

using testing::FailingDeviceIo;
using testing::IoFault;
using Bytes = std::vector<uint8_t>;

constexpr const char* kComplete = "*** MPEG partition reset is complete";

FsBlock InOrder(FsBlock block, bool rtv4000) {
  if (rtv4000)
    Rtv4000Byteswap(block);
  return block;
}

bool AllFf(const FsBlock& block, size_t from) {
  return std::all_of(block.begin() + static_cast<ptrdiff_t>(from), block.end(),
                     [](uint8_t b) { return b == 0xFF; });
}

// The checks a reset root block must carry: the CRC of bytes 24..1023 and the XOR of 0..18.
void ExpectSealedEmptyRoot(const FsBlock& block) {
  EXPECT_TRUE(AllFf(block, kDirSlots));
  EXPECT_EQ(GetBe16(block, kHeaderCrc), Crc16(std::span<const uint8_t>(block).subspan(24, 1000)));
  uint8_t x = 0;
  for (size_t i = 0; i < 19; ++i)
    x ^= block[i];
  EXPECT_EQ(block[kHeaderXor], x);
}

class ResetTest : public testing::RecordingTest {
 protected:
  void KeepCopy() { ASSERT_TRUE(testing::CopyImage(image_, before_)); }

  std::string image_ = dir_.File("disk.img");
  std::string before_ = dir_.File("before.img");
};

// ---- formatted disks ---------------------------------------------------------------------------

class ResetFormatted : public ResetTest, public ::testing::WithParamInterface<bool> {
 protected:
  bool rtv4000() const { return GetParam(); }
  void MakeDisk() {
    testing::ReplayTvDisk disk;
    disk.disk_sectors = 400000;
    disk.rtv4000 = rtv4000();
    disk.photo_sectors = 20480;
    ASSERT_TRUE(testing::MakeReplayTvDisk(image_, disk));
  }
  // Root and copy of the fixture's MPEG file system (p1 4000, clusters of 262144 bytes).
  static constexpr uint64_t kRoot = 4002ull * 512 + 3 * 262144;
  static constexpr uint64_t kCopy = kRoot + 262144;
};

TEST_P(ResetFormatted, FreshFileSystemIsRewrittenWithIdenticalBytes) {
  MakeDisk();
  KeepCopy();
  FailingDeviceIo io;
  testing::ScriptedFrontEnd& ui = StartRecording();
  ASSERT_EQ(ResetMpegPartition(image_), 0) << ui.Transcript();

  EXPECT_EQ(io.writes(), (std::vector<uint64_t>{kRoot, kCopy}));
  EXPECT_TRUE(testing::ImagesEqual(before_, image_));
  std::vector<std::string> lines = {"*** Resetting MPEG partition"};
  if (rtv4000())
    lines.push_back("  Enabling RTV4000 byteswapping functions");
  for (const char* line :
       {"  Partition 1 size is 4000 (0xfa0) blocks.", "  Partition 2 starts at sector 4002 (0xfa2)",
        "  Partition 2 cluster size is 262144 bytes.",
        "  Partition 2 root directory located in block 3.", "  CRC is 0x235f", "  XOR byte is 0x22",
        kComplete}) {
    lines.push_back(line);
  }
  EXPECT_EQ(ui.lines(), lines);
  EXPECT_TRUE(ui.boxes().empty());
}

TEST_P(ResetFormatted, ListedRecordingsAreDroppedAndOtherFieldsKept) {
  MakeDisk();
  // A root that lists recordings and has its own time stamp and name; its copy is stale.
  FsBlock root = testing::ReadFsBlock(image_, kRoot, rtv4000());
  for (size_t i = 0; i < 18; ++i)
    PutBe64(root, 448 + 32 * i, 1000 + i);
  PutBe64(root, kDirSlots, 42);
  PutBe64(root, kDirTimeMs, 0x123456789Aull);
  root[kDirName] = 'x';
  root[kHeaderXor] ^= 0x5A;  // stored checks are not verified
  ASSERT_TRUE(testing::WriteBytes(image_, kRoot, InOrder(root, rtv4000())));
  FsBlock stale = root;
  stale[500] = 0;
  ASSERT_TRUE(testing::WriteBytes(image_, kCopy, InOrder(stale, rtv4000())));
  KeepCopy();

  testing::ScriptedFrontEnd& ui = StartRecording();
  ASSERT_EQ(ResetMpegPartition(image_), 0) << ui.Transcript();

  Bytes raw_root = testing::ReadBytes(image_, kRoot, 1024);
  EXPECT_BYTES_EQ(raw_root, testing::ReadBytes(image_, kCopy, 1024));
  FsBlock after = testing::ReadFsBlock(image_, kRoot, rtv4000());
  ExpectSealedEmptyRoot(after);
  // Everything before the slots stays as read, except the two checks.
  FsBlock kept = after;
  std::copy(root.begin() + kHeaderCrc, root.begin() + kHeaderCrc + 2, kept.begin() + kHeaderCrc);
  kept[kHeaderXor] = root[kHeaderXor];
  EXPECT_BYTES_EQ(Bytes(root.begin(), root.begin() + kDirSlots),
                  Bytes(kept.begin(), kept.begin() + kDirSlots));
  EXPECT_TRUE(ui.Logged(Format("  CRC is 0x%04x", GetBe16(after, kHeaderCrc))));

  // Nothing else on the disk changed.
  ASSERT_TRUE(testing::WriteBytes(before_, kRoot, raw_root));
  ASSERT_TRUE(testing::WriteBytes(before_, kCopy, raw_root));
  EXPECT_TRUE(testing::ImagesEqual(before_, image_));
}

TEST_P(ResetFormatted, ShortDiskIsReportedByTheReaderAndLeftAlone) {
  MakeDisk();
  // The disk ends inside the superblock.
  ASSERT_EQ(::truncate(image_.c_str(), 4002 * 512 + 262144 + 512), 0);
  KeepCopy();
  testing::ScriptedFrontEnd& ui = StartRecording();
  EXPECT_EQ(ResetMpegPartition(image_), -1);
  EXPECT_TRUE(testing::ImagesEqual(before_, image_));
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].text, "*** ERROR: Unexpected EOF");
  EXPECT_FALSE(ui.Logged(kComplete));
}

struct ResetFault {
  const char* name;
  IoFault inject;
  std::vector<uint64_t> written;  // offsets that still receive the root block
  const char* box;                // the one box shown, or "" for none
};

void PrintTo(const ResetFault& fault, std::ostream* os) {
  *os << fault.name;
}

class ResetFaults : public ResetTest,
                    public ::testing::WithParamInterface<std::tuple<ResetFault, bool>> {};

constexpr uint64_t kRootAt = 4002ull * 512 + 3 * 262144;
constexpr uint64_t kCopyAt = kRootAt + 262144;

TEST_P(ResetFaults, FailureIsNeverReportedAsSuccess) {
  const ResetFault& fault = std::get<0>(GetParam());
  bool rtv4000 = std::get<1>(GetParam());
  testing::ReplayTvDisk disk;
  disk.disk_sectors = 100000;
  disk.rtv4000 = rtv4000;
  ASSERT_TRUE(testing::MakeReplayTvDisk(image_, disk));
  // A root that lists one recording, so that every write of the reset is visible.
  FsBlock root = testing::ReadFsBlock(image_, kRootAt, rtv4000);
  PutBe64(root, 448, 77);
  ASSERT_TRUE(testing::WriteBytes(image_, kRootAt, InOrder(root, rtv4000)));
  ASSERT_TRUE(testing::WriteBytes(image_, kCopyAt, InOrder(root, rtv4000)));
  KeepCopy();
  FsBlock emptied = InOrder(BuildRootDirectoryBlock(0), rtv4000);
  for (uint64_t offset : fault.written)
    ASSERT_TRUE(testing::WriteBytes(before_, offset, emptied));

  FailingDeviceIo io;
  io.Inject(fault.inject);
  testing::ScriptedFrontEnd& ui = StartRecording();
  EXPECT_EQ(ResetMpegPartition(image_), -1);
  EXPECT_TRUE(testing::ImagesEqual(before_, image_));
  EXPECT_FALSE(ui.Logged(kComplete)) << ui.Transcript();
  if (*fault.box != '\0') {
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0].text, fault.box);
  } else {
    EXPECT_TRUE(ui.boxes().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ResetFaults,
    ::testing::Combine(
        ::testing::Values(
            // The root's position is sought once for the read, then for the write.
            ResetFault{"SeekFailsBeforeReadingRoot", {IoFault::kSeekFails, kRootAt}, {}, ""},
            ResetFault{"SeekFailsBeforeFirstWrite", {IoFault::kSeekFails, kRootAt, 2}, {}, ""},
            ResetFault{
                "SeekLandsShortBeforeCopy", {IoFault::kSeekLandsShort, kCopyAt}, {kRootAt}, ""},
            ResetFault{"WriteFailsAtRoot",
                       {IoFault::kWriteFails, kRootAt},
                       {kCopyAt},
                       "*** ERROR writing block"},
            ResetFault{"WriteFailsAtCopy",
                       {IoFault::kWriteFails, kCopyAt},
                       {kRootAt},
                       "*** ERROR writing block"},
            ResetFault{"FlushFails",
                       {IoFault::kFlushFails},
                       {kRootAt, kCopyAt},
                       "*** ERROR writing block"}),
        ::testing::Bool()),
    testing::ByteOrderNames());

INSTANTIATE_TEST_SUITE_P(BothOrders, ResetFormatted, ::testing::Bool(), testing::ByteOrderNames());

TEST_F(ResetTest, MissingDeviceReportedTwiceAndBoxed) {
  testing::ScriptedFrontEnd& ui = StartRecording();
  std::string missing = dir_.File("none.img");
  EXPECT_EQ(ResetMpegPartition(missing), -1);
  ASSERT_EQ(ui.lines().size(), 3u);
  EXPECT_EQ(ui.lines().front(), "*** Resetting MPEG partition");
  ExpectOpenFailureReported(missing);
}

// ---- every check, at its edges ---------------------------------------------------------------

struct Layout {
  const char* name;
  uint32_t p1_length;
  uint32_t p2_start;
  uint32_t cluster_size;
  uint64_t root_cluster;
  uint32_t crc_length;
  const char* box;   // the refusal box's start; nullptr when accepted (or refused by a log line)
  const char* line;  // the refusal log line's start when it shows no box
  uint32_t p2_length = 1000000;
  uint64_t disk_bytes = 0;  // the image is cut to this size after its blocks are written
};

void PrintTo(const Layout& layout, std::ostream* os) {
  *os << layout.name;
}

constexpr const char* kNotAdjacent =
    "*** ERROR: Partition 2 does not start immediately after partition 1";
constexpr const char* kBadCluster = "*** ERROR: Invalid cluster size for partition 2";
constexpr const char* kBadRoot = "*** ERROR: Root directory cluster number is not valid";
constexpr const char* kSuspicious =
    "*** ERROR: Suspicious root directory block, not changing anything...";
constexpr const char* kBeyond = "*** ERROR: Nothing was written: the root directory copy would end";

class ResetChecks : public ResetTest,
                    public ::testing::WithParamInterface<std::tuple<Layout, bool>> {
 protected:
  const Layout& layout() const { return std::get<0>(GetParam()); }
  bool rtv4000() const { return std::get<1>(GetParam()); }
  uint64_t P() const { return uint64_t{layout().p2_start} * 512; }
  uint64_t K() const { return layout().cluster_size; }

  // Writes the blocks by hand, where the layout's values say they are: partition block, system
  // block, superblock naming the root cluster, and a root that lists a recording, with its copy.
  void MakeDisk() {
    const Layout& l = layout();
    uint64_t root = std::min<uint64_t>(l.root_cluster, 101);
    uint64_t end = P() + (root + 2) * std::max<uint64_t>(K(), 1024) + 1024;
    ASSERT_TRUE(testing::MakeBlankImage(image_, end / 512 + 1));
    Sector sector0 = EmptyPartitionBlock();
    WritePartitionEntry(sector0, 1, {0x4D, 2, l.p1_length});
    WritePartitionEntry(sector0, 2, {0x4D, l.p2_start, l.p2_length});
    if (rtv4000())
      Rtv4000Byteswap(sector0);
    ASSERT_TRUE(testing::WriteSectors(image_, 0, sector0));

    FsBlock system = BuildSystemBlock("mpeg", l.cluster_size, 1000);
    ASSERT_TRUE(testing::WriteBytes(image_, P(), InOrder(system, rtv4000())));
    FsBlock super = BuildSuperblock("mpeg", l.cluster_size, 1000);
    PutBe64(super, kSuperRootCluster, l.root_cluster);
    ASSERT_TRUE(testing::WriteBytes(image_, P() + K(), InOrder(super, rtv4000())));
    FsBlock dir = BuildRootDirectoryBlock(0);
    PutBe64(dir, 448, 12345);
    PutBe32(dir, kHeaderCrcLength, l.crc_length);
    ASSERT_TRUE(testing::WriteBytes(image_, P() + root * K(), InOrder(dir, rtv4000())));
    ASSERT_TRUE(testing::WriteBytes(image_, P() + (root + 1) * K(), InOrder(dir, rtv4000())));
    if (l.disk_bytes != 0) {
      ASSERT_EQ(::truncate(image_.c_str(), static_cast<off_t>(l.disk_bytes)), 0);
    }
  }
};

TEST_P(ResetChecks, AcceptOrRefuseWithTheExactReport) {
  MakeDisk();
  KeepCopy();
  testing::ScriptedFrontEnd& ui = StartRecording();
  int result = ResetMpegPartition(image_);
  const Layout& l = layout();
  // Stored values show unsigned: a length that wraps, a cluster size with its top bit set.
  EXPECT_TRUE(ui.LoggedContaining("size is " + std::to_string(l.p1_length) + " ("));
  if (l.box != kNotAdjacent) {
    EXPECT_TRUE(ui.LoggedContaining("size is " + std::to_string(l.cluster_size) + " bytes."));
  }
  bool accepted = l.box == nullptr && l.line == nullptr;
  if (accepted) {
    ASSERT_EQ(result, 0) << ui.Transcript();
    EXPECT_TRUE(ui.Logged(kComplete));
    EXPECT_TRUE(ui.boxes().empty());
    // The copy is written last, so it is whole even when clusters are smaller than a block.
    ExpectSealedEmptyRoot(
        testing::ReadFsBlock(image_, P() + (l.root_cluster + 1) * K(), rtv4000()));
    return;
  }
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(testing::ImagesEqual(before_, image_));
  EXPECT_FALSE(ui.Logged(kComplete));
  // The refusal names the drive.
  EXPECT_NE(ui.lines().back().find("\n           Disk: " + image_), std::string::npos);
  if (l.box != nullptr) {
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0].text.rfind(l.box, 0), 0u) << ui.boxes()[0].text;
    EXPECT_EQ(ui.boxes()[0].caption, "*** ERROR ***");
    EXPECT_EQ(ui.lines().back(), ui.boxes()[0].text);
  } else {
    EXPECT_TRUE(ui.boxes().empty());
    EXPECT_EQ(ui.lines().back().rfind(l.line, 0), 0u) << ui.lines().back();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Edges, ResetChecks,
    ::testing::Combine(
        ::testing::Values(
            Layout{"Start40002", 40000, 40002, 262144, 3, 1000, nullptr, nullptr},
            Layout{"Start40003", 40000, 40003, 262144, 3, 1000, kNotAdjacent, nullptr},
            Layout{"Start40001", 40000, 40001, 262144, 3, 1000, kNotAdjacent, nullptr},
            Layout{"LengthWrapsAround", 0xFFFFFFFFu, 1, 262144, 3, 1000, kNotAdjacent, nullptr},
            Layout{"Cluster511", 4000, 4002, 511, 3, 1000, kBadCluster, nullptr},
            Layout{"Cluster512", 4000, 4002, 512, 3, 1000, kBadCluster, nullptr},
            Layout{"Cluster1024", 4000, 4002, 1024, 3, 1000, nullptr, nullptr},
            Layout{"Cluster132096", 4000, 4002, 132096, 3, 1000, kBadCluster, nullptr},
            Layout{"Cluster1048576", 4000, 4002, 1048576, 3, 1000, nullptr, nullptr},
            Layout{"Cluster1048577", 4000, 4002, 1048577, 3, 1000, kBadCluster, nullptr},
            Layout{"Cluster2097152", 4000, 4002, 2097152, 3, 1000, nullptr, nullptr},
            Layout{"Cluster4194304", 4000, 4002, 4194304, 3, 1000, kBadCluster, nullptr},
            Layout{"ClusterTopBit", 4000, 4002, 0x80000000u, 3, 1000, kBadCluster, nullptr},
            Layout{"Root2", 4000, 4002, 8192, 2, 1000, kBadRoot, nullptr},
            Layout{"Root3", 4000, 4002, 8192, 3, 1000, nullptr, nullptr},
            Layout{"Root100", 4000, 4002, 8192, 100, 1000, nullptr, nullptr},
            Layout{"Root101", 4000, 4002, 8192, 101, 1000, kBadRoot, nullptr},
            Layout{"RootHighHalf", 4000, 4002, 8192, 0x100000003ull, 1000, kBadRoot, nullptr},
            Layout{"CrcLength999", 4000, 4002, 8192, 3, 999, nullptr, kSuspicious},
            Layout{"CrcLength1001", 4000, 4002, 8192, 3, 1001, nullptr, kSuspicious},
            // The copy of root 100 ends at byte 828,416 of partition 2 (1,618 sectors).
            Layout{"RootCopyEndsPartition", 4000, 4002, 8192, 100, 1000, nullptr, nullptr, 1618},
            Layout{"RootBeyondPartition", 4000, 4002, 8192, 100, 1000, kBeyond, nullptr, 1617},
            Layout{"RootCopyPastDiskEnd", 4000, 4002, 8192, 100, 1000, kBeyond, nullptr, 1000000,
                   4002 * 512 + 101 * 8192 + 512}),
        ::testing::Bool()),
    testing::ByteOrderNames());

}  // namespace
}  // namespace quillmar
