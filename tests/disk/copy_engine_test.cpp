#include "disk/copy_engine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "disk/copy_stop.h"
#include "disk/device_io.h"
#include "disk/forwarding_device_io.h"
#include "disk/unique_fd.h"
#include "tests/support/copy_fixture.h"

namespace quillmar {
namespace {

using testing::Bytes;
using testing::CopyTest;
using testing::Pattern;
using testing::ReadFile;
using testing::WriteFile;

TEST_F(CopyTest, ThousandBlocksGoInChunksOf512And488) {
  MakeDrives(1010, 1010);

  ASSERT_EQ(CopyBlocks(kSource, kTarget, 3, 5, 1000), 0);

  EXPECT_EQ(ui_.lines(), (std::vector<std::string>{
                             "Copy from source 'source-drive' at offset 3",
                             "Copy to destination 'target-drive' at offset 5",
                             "Copying 1000 blocks (0MB)",
                         }));
  ASSERT_EQ(target_->writes().size(), 2u);
  EXPECT_EQ(target_->writes()[0].offset, Bytes(5));
  EXPECT_EQ(target_->writes()[0].length, Bytes(512));
  EXPECT_EQ(target_->writes()[1].offset, Bytes(5 + 512));
  EXPECT_EQ(target_->writes()[1].length, Bytes(488));
  EXPECT_EQ(target_->flushes(), 1);
  ExpectTargetHolds(3, 5, 1000);
  ExpectCleanedUp();
  EXPECT_TRUE(ui_.boxes().empty());
}

TEST_F(CopyTest, SameDriveAsSourceAndTargetIsAccepted) {
  MakeDrives(10, 1);
  std::vector<uint8_t> before = source_->bytes();

  ASSERT_EQ(CopyBlocks(kSource, kSource, 0, 6, 4), 0);

  EXPECT_EQ(0, std::memcmp(source_->bytes().data() + Bytes(6), before.data(), Bytes(4)));
  EXPECT_EQ(0, std::memcmp(source_->bytes().data(), before.data(), Bytes(6)));
}

TEST_F(CopyTest, SourceDriveWithoutAnyBlocksLeftCopiesNothing) {
  MakeDrives(10, 10);

  ASSERT_EQ(CopyBlocks(kSource, kTarget, 12, 0, 0), 0);

  EXPECT_TRUE(ui_.Logged("Copying 0 blocks (0MB)"));
  EXPECT_TRUE(target_->writes().empty());
  ExpectCleanedUp();
}

// Copies between image files. Count 0 copies whole blocks from the source block to the end of
// the source file; an existing target keeps everything outside the copied range and is never
// truncated; a missing one is created with the blocks at their offset.
struct FileCopy {
  const char* name;
  uint64_t source_bytes;
  uint64_t target_bytes;  // 0: there is no target file yet
  uint64_t from;
  uint64_t to;
  uint32_t count;
  uint64_t copied_blocks;
  const char* line;
};

void PrintTo(const FileCopy& copy, std::ostream* out) {
  *out << copy.name;
}

class FileCopyTest : public CopyTest, public ::testing::WithParamInterface<FileCopy> {};

TEST_P(FileCopyTest, PutsTheBlocksAtTheirOffsetAndKeepsTheRest) {
  FileCopy c = GetParam();
  std::string source = dir_.File("source.img");
  std::string target = dir_.File("target.img");
  std::vector<uint8_t> from = Pattern(c.source_bytes, 3);
  WriteFile(source, from);
  std::vector<uint8_t> expected = Pattern(c.target_bytes, 77);
  if (c.target_bytes != 0)
    WriteFile(target, expected);

  ASSERT_EQ(CopyBlocks(source, target, c.from, c.to, c.count), 0);

  EXPECT_TRUE(ui_.Logged(c.line)) << ui_.Transcript();
  expected.resize(std::max<uint64_t>(expected.size(), Bytes(c.to + c.copied_blocks)), 0);
  std::copy_n(from.begin() + static_cast<ptrdiff_t>(Bytes(c.from)), Bytes(c.copied_blocks),
              expected.begin() + static_cast<ptrdiff_t>(Bytes(c.to)));
  EXPECT_EQ(ReadFile(target), expected);
  EXPECT_TRUE(ui_.boxes().empty());
}

constexpr uint64_t kWindowBlocks = kWriteBehindWindowBytes / 512;

INSTANTIATE_TEST_SUITE_P(
    Files, FileCopyTest,
    ::testing::Values(
        // the last 120 bytes are not a whole block
        FileCopy{"CountZeroToTheEnd", 5'243'000, 0, 0, 0, 0, 10240, "Copying 10240 blocks (5MB)"},
        FileCopy{"CountZeroFromTheSourceBlock", Bytes(100) + 7, 0, 40, 0, 0, 60,
                 "Copying 60 blocks (0MB)"},
        FileCopy{"LongerTargetKeepsHeadAndTail", Bytes(20), Bytes(50), 2, 10, 15, 15,
                 "Copying 15 blocks (0MB)"},
        FileCopy{"MissingTargetIsCreated", Bytes(8), 0, 0, 2, 8, 8, "Copying 8 blocks (0MB)"},
        FileCopy{"ShorterTargetThroughSeveralWindows", Bytes(4 * kWindowBlocks + 1000), Bytes(100),
                 0, 0, 0, 4 * kWindowBlocks + 1000, "Copying 132072 blocks (64MB)"}),
    testing::ParamName());

// Stands in for a device folder whose drive has gone: every open there fails as for a missing
// path, and the modes asked for are recorded. Other paths go on to the layer below.
class GoneDriveFolder : public ForwardingDeviceIo {
 public:
  GoneDriveFolder() : ForwardingDeviceIo(Io()) { SetDeviceIo(this); }
  ~GoneDriveFolder() override { SetDeviceIo(&inner()); }

  int Open(const std::string& path, OpenMode mode) override {
    if (path.rfind("/dev/", 0) != 0)
      return ForwardingDeviceIo::Open(path, mode);
    modes.push_back(mode);
    errno = ENOENT;
    return -1;
  }

  std::vector<OpenMode> modes;
};

TEST_F(CopyTest, DriveThatHasGoneIsNotCreatedAsAFile) {
  MakeDrives(10, 0);
  GoneDriveFolder folder;

  EXPECT_EQ(CopyBlocks(kSource, "/dev/sdq", 0, 0, 10), -1);

  EXPECT_EQ(folder.modes, std::vector<OpenMode>{OpenMode::kWriteOnly});
  EXPECT_EQ(ui_.lines().back(), "*** ERROR: Could not open device /dev/sdq");
  EXPECT_EQ(io_.open_descriptors(), 0);
}

// Requests a stop of the copy once the given number of writes has been made.
class StopAfterWrites : public ForwardingDeviceIo {
 public:
  explicit StopAfterWrites(int writes) : ForwardingDeviceIo(Io()), left_(writes) {
    SetDeviceIo(this);
    if (left_ == 0)
      RequestCopyStop();
  }
  ~StopAfterWrites() override {
    SetDeviceIo(&inner());
    ClearCopyStop();
  }
  ssize_t Write(int fd, const void* buffer, size_t n) override {
    if (--left_ == 0)
      RequestCopyStop();
    return ForwardingDeviceIo::Write(fd, buffer, n);
  }

 private:
  int left_;
};

// A stop request ends the copy at the next chunk boundary: what was written is flushed, nothing
// after it is written, and the copy fails.
TEST_F(CopyTest, StopRequestEndsTheCopyAtAChunkBoundary) {
  for (int writes : {0, 1, 2}) {
    SCOPED_TRACE(writes);
    MakeDrives(1300, 1300);
    StopAfterWrites stop(writes);
    EXPECT_EQ(CopyBlocks(kSource, kTarget, 0, 0, 1300), -1);
    const uint64_t copied = uint64_t{kCopyChunkBlocks} * static_cast<uint64_t>(writes);
    EXPECT_EQ(ui_.lines().back(), "*** Copy interrupted at block " + std::to_string(copied));
    ExpectTargetHolds(0, 0, copied);
    EXPECT_EQ(target_->flushes(), 1);
    EXPECT_TRUE(ui_.boxes().empty());
    ExpectCleanedUp();
  }
}

// Positions past 2 GiB and 4 GiB: the source length and every offset are 64-bit.
TEST_F(CopyTest, SparseFilesBeyondFourGibibytes) {
  std::string source = dir_.File("big-source.img");
  std::string target = dir_.File("big-target.img");
  const uint64_t start_block = (uint64_t{5} << 30) / 512;  // 5 GiB
  std::vector<uint8_t> tail = Pattern(Bytes(2048), 3);
  {
    UniqueFd fd = UniqueFd::Open(source, OpenMode::kWriteOnlyCreate);
    ASSERT_EQ(::pwrite(fd.get(), tail.data(), tail.size(), static_cast<off_t>(Bytes(start_block))),
              static_cast<ssize_t>(tail.size()));
  }

  ASSERT_EQ(CopyBlocks(source, target, start_block, start_block + 8, 0), 0);

  EXPECT_TRUE(ui_.Logged("Copying 2048 blocks (1MB)")) << ui_.Transcript();
  EXPECT_TRUE(ui_.Logged("Copy from source '" + source + "' at offset 10485760"));
  UniqueFd fd = UniqueFd::Open(target, OpenMode::kReadOnly);
  std::vector<uint8_t> copied(tail.size());
  ASSERT_EQ(
      ::pread(fd.get(), copied.data(), copied.size(), static_cast<off_t>(Bytes(start_block + 8))),
      static_cast<ssize_t>(copied.size()));
  EXPECT_EQ(copied, tail);
  EXPECT_EQ(Io().Length(fd.get()), static_cast<int64_t>(Bytes(start_block + 8 + 2048)));
}

TEST_F(CopyTest, MissingSourceIsReportedAndNoTargetIsCreated) {
  std::string source = dir_.File("missing.img");
  std::string target = dir_.File("never.img");

  EXPECT_EQ(CopyBlocks(source, target, 0, 0, 10), -1);

  std::string text = "*** ERROR: Could not open device " + source;
  EXPECT_EQ(ui_.lines(), (std::vector<std::string>{
                             "Copy from source '" + source + "' at offset 0",
                             "Copy to destination '" + target + "' at offset 0",
                             text,
                             text,
                         }));
  ASSERT_EQ(ui_.boxes().size(), 1u);
  EXPECT_EQ(ui_.boxes()[0].text, text);
  EXPECT_EQ(ui_.boxes()[0].caption, "*** ERROR ***");
  EXPECT_NE(::access(target.c_str(), F_OK), 0);
  EXPECT_EQ(ui_.progress_shown(), 0);
}

TEST_F(CopyTest, TargetThatCannotBeOpenedClosesTheSource) {
  MakeDrives(10, 0);
  std::string target = dir_.File("no-such-folder/target.img");

  EXPECT_EQ(CopyBlocks(kSource, target, 0, 0, 10), -1);

  EXPECT_EQ(ui_.lines().back(), "*** ERROR: Could not open device " + target);
  EXPECT_EQ(io_.open_descriptors(), 0);
  EXPECT_EQ(ui_.progress_shown(), 0);
}

TEST_F(CopyTest, BusyTargetDriveIsRefusedBeforeAnythingIsWritten) {
  MakeDrives(10, 10);
  target_->RefuseWriters();

  EXPECT_EQ(CopyBlocks(kSource, kTarget, 0, 0, 10), -1);

  EXPECT_TRUE(ui_.Logged("*** ERROR: Could not open device target-drive"));
  EXPECT_TRUE(target_->writes().empty());
  ExpectCleanedUp();
}

// Two writers of one image file (two runs copying onto it): the second is refused as a busy
// drive is, until the first has closed it; readers are not held up.
TEST_F(CopyTest, ImageFileBeingWrittenIsRefusedLikeABusyDrive) {
  MakeDrives(10, 0);
  std::string target = dir_.File("target.img");
  WriteFile(target, Pattern(Bytes(10), 9));
  UniqueFd writer = UniqueFd::Open(target, OpenMode::kReadWrite);
  ASSERT_TRUE(writer.valid());
  UniqueFd reader = UniqueFd::Open(target, OpenMode::kReadOnly);
  EXPECT_TRUE(reader.valid());

  EXPECT_EQ(CopyBlocks(kSource, target, 0, 0, 10), -1);
  EXPECT_EQ(ui_.lines().back(), "*** ERROR: Could not open device " + target);
  EXPECT_EQ(ReadFile(target), Pattern(Bytes(10), 9));
  writer.Close();
  EXPECT_EQ(CopyBlocks(kSource, target, 0, 0, 10), 0);
  EXPECT_EQ(ReadFile(target), Pattern(Bytes(10), 1));
}

// The bar: shown once, whole percents that only grow and never pass 100, hidden at the end.
class CopyProgressTest : public CopyTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(CopyProgressTest, MovesForwardWithinRangeAndEndsHidden) {
  uint32_t count = GetParam();
  MakeDrives(count, count);

  ASSERT_EQ(CopyBlocks(kSource, kTarget, 0, 0, count), 0);

  const std::vector<int>& steps = ui_.progress();
  ASSERT_FALSE(steps.empty());
  EXPECT_EQ(steps.front(), 0);
  for (size_t i = 1; i < steps.size(); ++i) {
    EXPECT_GT(steps[i], steps[i - 1]) << "step " << i;
    EXPECT_LE(steps[i], 100);
  }
  // The bar stands where the last chunk began.
  uint64_t last_chunk_start = (count - 1) / kCopyChunkBlocks * kCopyChunkBlocks;
  EXPECT_EQ(steps.back(), static_cast<int>(last_chunk_start * 100 / count));
  EXPECT_EQ(ui_.progress_shown(), 1);
  EXPECT_EQ(ui_.progress_hidden(), 1);
  ExpectTargetHolds(0, 0, count);
}

INSTANTIATE_TEST_SUITE_P(Counts, CopyProgressTest,
                         ::testing::Values(1, 99, 100, 512, 513, 1000, 51'200, 70'001),
                         testing::NumberName{"Blocks"});

// Write-behind: each finished step starts on its way at once; the oldest window is waited for
// once more than kWriteBehindWindowsInFlight windows are.
TEST_F(CopyTest, WriteBehindFollowsTheStepsAndWindowsOfTheTarget) {
  const uint64_t window = kWriteBehindWindowBytes;
  const uint64_t step = kWriteBehindStepBytes;
  const uint64_t bytes = (kWriteBehindWindowsInFlight + 2) * window + window / 2;
  const uint64_t blocks = bytes / 512;
  MakeDrives(blocks, blocks + 10);

  ASSERT_EQ(CopyBlocks(kSource, kTarget, 0, 10, static_cast<uint32_t>(blocks)), 0);

  const uint64_t base = Bytes(10);
  using Range = std::pair<uint64_t, uint64_t>;
  std::vector<Range> started, waited;
  for (uint64_t i = 0; i < bytes / step; ++i)
    started.push_back({base + i * step, step});
  // The last step started 2.5 windows past the in-flight limit: three windows were waited for.
  for (uint64_t i = 0; i < 3; ++i)
    waited.push_back({base + i * window, window});
  EXPECT_EQ(target_->writeback_starts(), started);
  EXPECT_EQ(target_->writeback_waits(), waited);
  EXPECT_EQ(target_->flushes(), 1);
  ExpectTargetHolds(0, 10, blocks);
}

TEST_F(CopyTest, TargetWithoutWriteBehindIsFlushedAtTheEnd) {
  const uint32_t blocks = 3 * kWriteBehindWindowBytes / 512;
  MakeDrives(blocks, blocks);
  target_->FailWriteback(ESPIPE);

  ASSERT_EQ(CopyBlocks(kSource, kTarget, 0, 0, blocks), 0);

  EXPECT_EQ(target_->writeback_starts().size(), 1u);  // tried once, then left alone
  EXPECT_TRUE(target_->writeback_waits().empty());
  EXPECT_EQ(target_->flushes(), 1);
  EXPECT_TRUE(ui_.boxes().empty());
  ExpectTargetHolds(0, 0, blocks);
}

}  // namespace
}  // namespace quillmar
