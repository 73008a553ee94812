// The formatter on image files: exactly the metadata blocks at their cluster positions, in order,
// nothing else; refusals and faults through the descriptor seam.
#include "format/formatter.h"

#include <gtest/gtest.h>

#include <optional>

#include "format/fs_blocks.h"
#include "tests/format/format_fixture.h"
#include "tests/support/disk_image.h"

namespace quillmar {
namespace {

using testing::FailingDeviceIo;
using testing::IoFault;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t kPartitionSector = 40002;
constexpr uint64_t kP = kPartitionSector * 512;  // 20,481,024

struct FileSystem {
  const char* name;
  std::string label;
  std::vector<std::string> directories;
  uint32_t cluster_size;
  uint64_t cluster_count;
};

void PrintTo(const FileSystem& fs, std::ostream* os) {
  *os << fs.name;
}
void PrintTo(const struct Fault& fault, std::ostream* os);

const FileSystem kMpeg{"Mpeg", "mpeg", {}, 524288, 156295};
const FileSystem kPhoto{"Photo", "storage", {"tmp", "Photo"}, 8192, 12800};
const FileSystem kSmallest{"Cluster1024", "storage", {"tmp", "Photo"}, 1024, 5000};

// Clusters of the blocks in write order, and the block each receives.
std::vector<std::pair<uint64_t, FsBlock>> ExpectedWrites(const FileSystem& fs) {
  std::vector<std::pair<uint64_t, FsBlock>> writes;
  writes.emplace_back(0, BuildSystemBlock(fs.label, fs.cluster_size, fs.cluster_count));
  FsBlock super = BuildSuperblock(fs.label, fs.cluster_size, fs.cluster_count);
  writes.emplace_back(1, super);
  writes.emplace_back(2, super);
  FsBlock root = BuildRootDirectoryBlock(fs.directories.size());
  writes.emplace_back(3, root);
  writes.emplace_back(4, root);
  for (size_t i = 0; i < fs.directories.size(); ++i) {
    FsBlock dir = BuildDirectoryBlock(i, fs.directories[i]);
    writes.emplace_back(2 * i + 5, dir);
    writes.emplace_back(2 * i + 6, dir);
  }
  return writes;
}

class FormatterTest : public testing::RecordingTest {
 protected:
  // An image whose partition area is full of recognisable data, so any stray write shows.
  void SetUp() override {
    image_ = dir_.File("disk.img");
    expected_ = dir_.File("expected.img");
    ASSERT_TRUE(testing::MakeBlankImage(image_, 60000));
    ASSERT_TRUE(FillRecording(kPartitionSector - 2, 12000));
    ASSERT_TRUE(testing::CopyImage(image_, expected_));
  }

  ::testing::AssertionResult FillRecording(uint64_t first, uint64_t count) {
    Bytes data;
    data.reserve(count * 512);
    for (uint64_t s = first; s < first + count; ++s) {
      Sector sector = testing::PatternSector(testing::Pattern::kRecording, s);
      data.insert(data.end(), sector.begin(), sector.end());
    }
    return testing::WriteSectors(image_, first, data);
  }

  // Applies the writes of the listed clusters to the expected image.
  void ExpectWritten(const FileSystem& fs, bool rtv4000, const std::vector<uint64_t>& only) {
    for (auto [cluster, block] : ExpectedWrites(fs)) {
      if (std::find(only.begin(), only.end(), cluster) == only.end())
        continue;
      if (rtv4000)
        Rtv4000Byteswap(block);
      ASSERT_TRUE(testing::WriteBytes(expected_, kP + cluster * fs.cluster_size, block));
    }
  }

  int Format(const FileSystem& fs, bool rtv4000) {
    return FormatPartition(image_, kP, rtv4000, fs.cluster_size, fs.cluster_count, fs.label,
                           fs.directories);
  }

  std::string image_;
  std::string expected_;
};

// ---- a successful format ---------------------------------------------------------------------

class FormatWrites : public FormatterTest,
                     public ::testing::WithParamInterface<std::tuple<FileSystem, bool>> {
 protected:
  const FileSystem& fs() const { return std::get<0>(GetParam()); }
  bool rtv4000() const { return std::get<1>(GetParam()); }
};

TEST_P(FormatWrites, ExactlyTheMetadataBlocksInOrder) {
  std::vector<uint64_t> all;
  for (const auto& write : ExpectedWrites(fs()))
    all.push_back(write.first);
  ExpectWritten(fs(), rtv4000(), all);
  std::vector<uint64_t> positions;
  for (uint64_t cluster : all)
    positions.push_back(kP + cluster * fs().cluster_size);
  FailingDeviceIo io;
  testing::ScriptedFrontEnd& ui = StartRecording();
  ASSERT_EQ(Format(fs(), rtv4000()), 0) << ui.Transcript();

  EXPECT_EQ(io.writes(), positions);
  EXPECT_TRUE(testing::ImagesEqual(expected_, image_));
  EXPECT_TRUE(ui.boxes().empty());
  EXPECT_EQ(ui.lines().back(), "*** Partition format complete");
}

INSTANTIATE_TEST_SUITE_P(Layouts, FormatWrites,
                         ::testing::Combine(::testing::Values(kMpeg, kPhoto, kSmallest),
                                            ::testing::Bool()),
                         testing::ByteOrderNames());

TEST_F(FormatterTest, LogsEveryStepInOrder) {
  testing::ScriptedFrontEnd& ui = StartRecording();
  ASSERT_EQ(Format(kPhoto, true), 0);
  EXPECT_EQ(ui.lines(),
            (std::vector<std::string>{
                "*** Formatting partition on device '" + image_ + "' at offset=20481024",
                "    Using RTV4000 byteswapping operations",
                "    Writing system block with 12800 clusters of 8192 bytes each",
                "    Writing superblock with label 'storage'",
                "     CRC is 0x37f4",
                "     XOR byte is 0x5b",
                "    Writing root directory entry",
                "     CRC is 0xf90a",
                "     XOR byte is 0xad",
                "    Adding directory 'tmp' to partition",
                "     CRC is 0x5f0e",
                "     XOR byte is 0x09",
                "    Adding directory 'Photo' to partition",
                "     CRC is 0x0298",
                "     XOR byte is 0xc0",
                "*** Partition format complete",
            }));
}

TEST_F(FormatterTest, LogShowsLowHalfOfAHugeClusterCount) {
  FileSystem huge = kMpeg;
  huge.cluster_count = 0x100000005ull;
  testing::ScriptedFrontEnd& ui = StartRecording();
  ASSERT_EQ(Format(huge, false), 0);
  EXPECT_TRUE(ui.Logged("    Writing system block with 5 clusters of 524288 bytes each"))
      << ui.Transcript();
  FsBlock system = testing::ReadFsBlock(image_, kP, false);
  EXPECT_EQ(GetBe64(system, kSystemClusterCount), 0x100000005ull);
}

// ---- refusals and faults ---------------------------------------------------------------------

class NotARealCluster : public FormatterTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(NotARealCluster, RefusedBeforeOpeningWithNothingWritten) {
  FileSystem fs = kMpeg;
  fs.cluster_size = GetParam();
  FailingDeviceIo io;
  testing::ScriptedFrontEnd& ui = StartRecording();
  EXPECT_EQ(Format(fs, false), -1);
  EXPECT_EQ(io.opens(), 0);
  EXPECT_TRUE(testing::ImagesEqual(expected_, image_));
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].caption, "*** ERROR ***");
  EXPECT_EQ(ui.boxes()[0].text.rfind("*** ERROR: Cluster size " + std::to_string(GetParam()), 0),
            0u)
      << ui.boxes()[0].text;
  EXPECT_FALSE(ui.Logged("*** Partition format complete"));
}

INSTANTIATE_TEST_SUITE_P(Sizes, NotARealCluster,
                         ::testing::Values(0u, 512u, 1000u, 1023u, 1536u, 4194304u),
                         testing::NumberName{"Bytes"});

TEST_F(FormatterTest, MissingDeviceReportedTwiceAndBoxed) {
  StartRecording();
  std::string missing = dir_.File("missing/disk.img");
  EXPECT_EQ(FormatPartition(missing, kP, false, 524288, 10, "mpeg", {}), -1);
  ExpectOpenFailureReported(missing);
}

struct Fault {
  const char* name;
  IoFault inject;
  std::vector<uint64_t> written_clusters;  // of the MPEG layout, cluster size 524288
  const char* line;                        // a line that must be logged ("" for none)
  const char* box;                         // the one box shown ("" for none)
};

void PrintTo(const Fault& fault, std::ostream* os) {
  *os << fault.name;
}

class FormatFaults : public FormatterTest,
                     public ::testing::WithParamInterface<std::tuple<Fault, bool>> {};

TEST_P(FormatFaults, NothingElseWrittenAndNoSuccessReported) {
  const Fault& fault = std::get<0>(GetParam());
  bool rtv4000 = std::get<1>(GetParam());
  ExpectWritten(kMpeg, rtv4000, fault.written_clusters);
  FailingDeviceIo io;
  io.Inject(fault.inject);
  testing::ScriptedFrontEnd& ui = StartRecording();
  EXPECT_EQ(Format(kMpeg, rtv4000), -1);

  EXPECT_TRUE(testing::ImagesEqual(expected_, image_));
  EXPECT_FALSE(ui.Logged("*** Partition format complete")) << ui.Transcript();
  if (*fault.line != '\0') {
    EXPECT_TRUE(ui.Logged(fault.line)) << ui.Transcript();
  }
  if (*fault.box != '\0') {
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0].text, fault.box);
    EXPECT_EQ(ui.boxes()[0].caption, "*** ERROR ***");
  } else {
    EXPECT_TRUE(ui.boxes().empty());
  }
}

constexpr uint64_t kK = 524288;

INSTANTIATE_TEST_SUITE_P(
    Faults, FormatFaults,
    ::testing::Combine(
        ::testing::Values(
            Fault{"SeekFailsAtSystemBlock", {IoFault::kSeekFails, kP}, {}, "File seek error", ""},
            Fault{"SeekFailsAtSuperblockCopy",
                  {IoFault::kSeekFails, kP + 2 * kK},
                  {0, 1},
                  "File seek error",
                  ""},
            Fault{"SeekLandsShortAtRoot",
                  {IoFault::kSeekLandsShort, kP + 3 * kK},
                  {0, 1, 2},
                  "File seek error: wanted 22053888 got 22053376",
                  ""},
            Fault{"WriteFailsAtSuperblock",
                  {IoFault::kWriteFails, kP + kK},
                  {0, 2, 3, 4},
                  "",
                  "*** ERROR writing block"},
            Fault{"WriteFailsAtLastBlock",
                  {IoFault::kWriteFails, kP + 4 * kK},
                  {0, 1, 2, 3},
                  "",
                  "*** ERROR writing block"},
            Fault{"FlushFails",
                  {IoFault::kFlushFails},
                  {0, 1, 2, 3, 4},
                  "",
                  "*** ERROR writing block"}),
        ::testing::Bool()),
    testing::ByteOrderNames());

}  // namespace
}  // namespace quillmar
