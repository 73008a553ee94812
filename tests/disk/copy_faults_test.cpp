// Copies that meet a fault at the edges that matter: the first sectors, both sides of the chunk
// boundary, the final partial chunk and the last sector. Every copy runs 1100 blocks (chunks of
// 512, 512 and 76) from block 3 of the source to block 5 of the target; positions count from the
// start of the copy.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "disk/copy_engine.h"
#include "tests/support/copy_fixture.h"

namespace quillmar {
namespace {

using testing::Bytes;

constexpr uint64_t kFrom = 3;
constexpr uint64_t kTo = 5;
constexpr uint32_t kCount = 1100;
constexpr uint64_t kSpare = 10;  // blocks after the copied range on both drives

const std::vector<uint64_t> kEdges = {0, 1, 511, 512, 1023, 1024, 1099};

uint64_t ChunkStart(uint64_t position) {
  return position / kCopyChunkBlocks * kCopyChunkBlocks;
}

std::string ReadAbort(uint64_t block) {
  return "ERROR: Failed to read block " + std::to_string(block) + " from source - copy aborted";
}

std::string WriteAbort(uint64_t block) {
  return "ERROR: Failed to write block " + std::to_string(block) + " to target - copy aborted";
}

class CopyFaultTest : public testing::CopyTest {
 protected:
  void SetUp() override { MakeDrives(kFrom + kCount + kSpare, kTo + kCount + kSpare); }

  int Copy() { return CopyBlocks(kSource, kTarget, kFrom, kTo, kCount); }

  // The write error box from the block writer, then the abort line naming block.
  void ExpectWriteError(uint64_t block) {
    ASSERT_EQ(ui_.boxes().size(), 1u) << ui_.Transcript();
    EXPECT_EQ(ui_.boxes()[0].text, "*** ERROR writing block");
    EXPECT_EQ(ui_.boxes()[0].caption, "*** ERROR ***");
    ASSERT_GE(ui_.lines().size(), 2u);
    EXPECT_EQ(ui_.lines()[ui_.lines().size() - 2], "*** ERROR writing block");
    EXPECT_EQ(ui_.lines().back(), WriteAbort(block));
  }
};

// The source fails at a position: an unreadable sector, or the end of the drive (exactly there,
// or with a partial sector after it). The chunk holding the position is not written, everything
// before it is, nothing after it is.
enum class SourceEnd { kUnreadableSector, kEndsHere, kEndsInPartialSector };

struct SourceFault {
  uint64_t position;
  SourceEnd kind;
};

std::string SourceFaultName(const ::testing::TestParamInfo<SourceFault>& info) {
  const char* kinds[] = {"Unreadable", "EndsHere", "EndsInPartialSector"};
  return kinds[static_cast<int>(info.param.kind)] +
         testing::NameFromNumber("At", info.param.position);
}

class SourceFaultTest : public CopyFaultTest, public ::testing::WithParamInterface<SourceFault> {};

TEST_P(SourceFaultTest, StopsBeforeTheChunk) {
  SourceFault fault = GetParam();
  if (fault.kind == SourceEnd::kUnreadableSector)
    source_->FailReadAt(kFrom + fault.position);
  else
    source_->bytes().resize(Bytes(kFrom + fault.position) +
                            (fault.kind == SourceEnd::kEndsInPartialSector ? 100 : 0));

  EXPECT_EQ(Copy(), -1);

  uint64_t chunk = ChunkStart(fault.position);
  EXPECT_EQ(ui_.lines().back(), ReadAbort(chunk));
  EXPECT_TRUE(ui_.boxes().empty());  // the copy reads quietly
  ExpectTargetHolds(kFrom, kTo, chunk);
  ExpectWritesWithin(Bytes(kTo), Bytes(kTo + chunk));
  ExpectCleanedUp();
}

std::vector<SourceFault> SourceFaults() {
  std::vector<SourceFault> all;
  for (uint64_t edge : kEdges)
    for (SourceEnd kind :
         {SourceEnd::kUnreadableSector, SourceEnd::kEndsHere, SourceEnd::kEndsInPartialSector})
      all.push_back({edge, kind});
  return all;
}

INSTANTIATE_TEST_SUITE_P(Edges, SourceFaultTest, ::testing::ValuesIn(SourceFaults()),
                         SourceFaultName);

// The target refuses a write at a position: a sector that fails at once, or a full drive (failing
// with ENOSPC or taking no bytes at all). The sectors before it are written, it and everything
// after it are not.
enum class TargetRefusal { kBadSector, kNoSpace, kZeroWrites };

struct TargetFault {
  uint64_t position;
  TargetRefusal kind;
};

std::string TargetFaultName(const ::testing::TestParamInfo<TargetFault>& info) {
  const char* kinds[] = {"BadSector", "NoSpace", "ZeroWrites"};
  return kinds[static_cast<int>(info.param.kind)] +
         testing::NameFromNumber("At", info.param.position);
}

class TargetFaultTest : public CopyFaultTest, public ::testing::WithParamInterface<TargetFault> {};

TEST_P(TargetFaultTest, StopsAtTheSector) {
  TargetFault fault = GetParam();
  if (fault.kind == TargetRefusal::kBadSector)
    target_->FailWriteAt(kTo + fault.position);
  else
    target_->NoSpaceBeyond(Bytes(kTo + fault.position), fault.kind == TargetRefusal::kZeroWrites);

  EXPECT_EQ(Copy(), -1);

  ExpectWriteError(ChunkStart(fault.position));
  ExpectTargetHolds(kFrom, kTo, fault.position);
  ExpectWritesWithin(Bytes(kTo), Bytes(kTo + ChunkStart(fault.position) + kCopyChunkBlocks));
  if (fault.kind == TargetRefusal::kBadSector) {
    EXPECT_EQ(target_->writes().back().offset, Bytes(kTo + fault.position));
    EXPECT_EQ(target_->writes().back().result, -1);
  }
  ExpectCleanedUp();
}

std::vector<TargetFault> TargetFaults() {
  std::vector<TargetFault> all;
  for (uint64_t edge : kEdges)
    for (TargetRefusal kind :
         {TargetRefusal::kBadSector, TargetRefusal::kNoSpace, TargetRefusal::kZeroWrites})
      all.push_back({edge, kind});
  return all;
}

INSTANTIATE_TEST_SUITE_P(Edges, TargetFaultTest, ::testing::ValuesIn(TargetFaults()),
                         TargetFaultName);

// Write errors that the device reports late, as the page cache does: the writes succeed and the
// error comes once, at the next wait for write-behind or the flush. The copy reports the first
// block not yet known to be on the device, and never flushes twice to clear the error.
struct LateWriteError {
  uint32_t count;
  uint64_t bad;
  uint64_t reported_block;  // the first block not known to be on the device
  uint64_t last_written;    // the copy wrote nothing from here on
};

std::string LateWriteErrorName(const ::testing::TestParamInfo<LateWriteError>& info) {
  return testing::NameFromNumber("Blocks", info.param.count) +
         testing::NameFromNumber("BadSector", static_cast<long long>(info.param.bad));
}

class LateWriteErrorTest : public CopyFaultTest,
                           public ::testing::WithParamInterface<LateWriteError> {};

TEST_P(LateWriteErrorTest, SurfacesAtTheNextWaitOrFlush) {
  LateWriteError late = GetParam();
  source_->bytes() = testing::Pattern(Bytes(kFrom + late.count), 1);
  target_->bytes().resize(Bytes(kTo + late.count));
  target_before_ = target_->bytes();
  target_->DeferWriteErrors();
  target_->FailWriteAt(kTo + late.bad);

  EXPECT_EQ(CopyBlocks(kSource, kTarget, kFrom, kTo, late.count), -1);

  ExpectWriteError(late.reported_block);
  ExpectWritesWithin(Bytes(kTo), Bytes(kTo + late.last_written));
  EXPECT_LE(target_->flushes(), 1);
  ExpectCleanedUp();
}

constexpr uint64_t kWindowBlocks = kWriteBehindWindowBytes / 512;
constexpr uint64_t kInFlight = kWriteBehindWindowsInFlight;
constexpr uint64_t kStepBlocks = kWriteBehindStepBytes / 512;
// The first wait comes once kInFlight windows and one step have been written.
constexpr uint64_t kFirstWait = kInFlight * kWindowBlocks + kStepBlocks;
// Full windows of kInFlight + 2 and half a window more.
constexpr uint32_t kLongCopy =
    static_cast<uint32_t>((kInFlight + 2) * kWindowBlocks + kWindowBlocks / 2);

INSTANTIATE_TEST_SUITE_P(
    Positions, LateWriteErrorTest,
    ::testing::Values(
        // Copies shorter than a window: only the flush can tell.
        LateWriteError{kCount, 0, 0, kCount}, LateWriteError{kCount, 511, 0, kCount},
        LateWriteError{kCount, 1099, 0, kCount},
        // An error before the first wait surfaces there; one after the last wait (the third, of
        // the copy's 4.5 windows) surfaces at the flush, which names the first window not
        // waited for.
        LateWriteError{kLongCopy, 0, 0, kFirstWait},
        LateWriteError{kLongCopy, kWindowBlocks, 0, kFirstWait},
        LateWriteError{kLongCopy, kFirstWait - 1, 0, kFirstWait},
        LateWriteError{kLongCopy, kFirstWait, kWindowBlocks, kFirstWait + kWindowBlocks},
        LateWriteError{kLongCopy, kLongCopy - 1, 3 * kWindowBlocks, kLongCopy}),
    LateWriteErrorName);

// A flush that fails ends the copy as a write failure, whatever its length.
class FlushFailureTest : public CopyFaultTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(FlushFailureTest, IsAWriteFailure) {
  uint32_t count = GetParam();
  source_->bytes() = testing::Pattern(Bytes(kFrom + count), 1);
  target_->FailFlush();

  EXPECT_EQ(CopyBlocks(kSource, kTarget, kFrom, kTo, count), -1);

  // Windows are waited for while the steps started reach past kInFlight windows.
  uint64_t started = Bytes(count) / kWriteBehindStepBytes * kWriteBehindStepBytes;
  uint64_t past = started > kInFlight * kWriteBehindWindowBytes
                      ? started - kInFlight * kWriteBehindWindowBytes
                      : 0;
  uint64_t waited = (past + kWriteBehindWindowBytes - 1) / kWriteBehindWindowBytes;
  ExpectWriteError(waited * kWindowBlocks);
  EXPECT_EQ(target_->flushes(), 1);
  ExpectCleanedUp();
}

INSTANTIATE_TEST_SUITE_P(Counts, FlushFailureTest,
                         ::testing::Values(1, 511, 512, 513, kCount,
                                           static_cast<uint32_t>(kInFlight* kWindowBlocks),
                                           kLongCopy),
                         testing::NumberName{"Blocks"});

// A seek that fails or lands elsewhere stops the copy before anything is written.
struct SeekFault {
  const char* name;
  bool on_target;
  int64_t off_by;  // 0: the seek fails
  uint32_t count;
  const char* line;
};

void PrintTo(const SeekFault& fault, std::ostream* out) {
  *out << fault.name;
}

class SeekFaultTest : public CopyFaultTest, public ::testing::WithParamInterface<SeekFault> {};

TEST_P(SeekFaultTest, NothingIsWritten) {
  SeekFault fault = GetParam();
  testing::FakeDevice& drive = fault.on_target ? *target_ : *source_;
  if (fault.off_by == 0) {
    drive.FailSeeks();
  } else {
    drive.SeeksLandOffBy(fault.off_by);
  }

  EXPECT_EQ(CopyBlocks(kSource, kTarget, kFrom, kTo, fault.count), -1);

  EXPECT_EQ(ui_.lines().back(), fault.line) << ui_.Transcript();
  EXPECT_TRUE(target_->writes().empty());
  EXPECT_EQ(target_->flushes(), 0);
  EXPECT_EQ(ui_.progress_shown(), 0);
  EXPECT_FALSE(ui_.LoggedContaining("Copying"));
  ExpectCleanedUp();
}

INSTANTIATE_TEST_SUITE_P(
    Sides, SeekFaultTest,
    ::testing::Values(
        SeekFault{"SourceFails", false, 0, kCount, "File seek error"},
        SeekFault{"SourceLengthFails", false, 0, 0, "File seek error"},
        SeekFault{"SourceLandsAfter", false, 512, kCount, "File seek error: wanted 1536 got 2048"},
        SeekFault{"TargetFails", true, 0, kCount, "File seek error"},
        SeekFault{"TargetLandsBefore", true, -512, kCount, "File seek error: wanted 2560 got 2048"},
        SeekFault{"TargetLandsAfter", true, 1, 0, "File seek error: wanted 2560 got 2561"}),
    testing::ParamName());

TEST_F(CopyFaultTest, BlockBeyondAnyOffsetStopsAtTheSeek) {
  EXPECT_EQ(CopyBlocks(kSource, kTarget, 0, UINT64_MAX / 256, 1), -1);

  EXPECT_EQ(ui_.lines().back(), "File seek error");
  EXPECT_TRUE(target_->writes().empty());
  ExpectCleanedUp();
}

// A drive that vanishes after a number of calls (open, seek, reads or writes per chunk, flush):
// every call after that fails. The copy reports where it stopped and writes nothing more.
struct Vanishing {
  const char* name;
  bool target;
  int calls;
  int error;
  const char* line;
  uint64_t written_blocks;  // the target holds the copy of these
};

void PrintTo(const Vanishing& gone, std::ostream* out) {
  *out << gone.name;
}

class VanishingDriveTest : public CopyFaultTest, public ::testing::WithParamInterface<Vanishing> {};

TEST_P(VanishingDriveTest, StopsWhereItVanished) {
  Vanishing gone = GetParam();
  (gone.target ? target_ : source_)->VanishAfter(gone.calls, gone.error);

  EXPECT_EQ(Copy(), -1);

  EXPECT_EQ(ui_.lines().back(), gone.line) << ui_.Transcript();
  ExpectTargetHolds(kFrom, kTo, gone.written_blocks);
  ExpectWritesWithin(Bytes(kTo), Bytes(kTo + kCount));
  ExpectCleanedUp();
}

INSTANTIATE_TEST_SUITE_P(
    Moments, VanishingDriveTest,
    ::testing::Values(Vanishing{"SourceBeforeOpen", false, 0, ENODEV,
                                "*** ERROR: Could not open device source-drive", 0},
                      Vanishing{"SourceBeforeSeek", false, 1, EIO, "File seek error", 0},
                      Vanishing{"SourceBeforeFirstRead", false, 2, EIO,
                                "ERROR: Failed to read block 0 from source - copy aborted", 0},
                      Vanishing{"SourceAtChunkBoundary", false, 3, ENODEV,
                                "ERROR: Failed to read block 512 from source - copy aborted", 512},
                      Vanishing{"SourceBeforePartialChunk", false, 4, EIO,
                                "ERROR: Failed to read block 1024 from source - copy aborted",
                                1024},
                      Vanishing{"TargetBeforeOpen", true, 0, ENODEV,
                                "*** ERROR: Could not open device target-drive", 0},
                      Vanishing{"TargetBeforeSeek", true, 1, EIO, "File seek error", 0},
                      Vanishing{"TargetBeforeFirstWrite", true, 2, ENODEV,
                                "ERROR: Failed to write block 0 to target - copy aborted", 0},
                      Vanishing{"TargetAtChunkBoundary", true, 3, EIO,
                                "ERROR: Failed to write block 512 to target - copy aborted", 512},
                      Vanishing{"TargetBeforePartialChunk", true, 4, ENODEV,
                                "ERROR: Failed to write block 1024 to target - copy aborted", 1024},
                      Vanishing{"TargetBeforeFlush", true, 5, EIO,
                                "ERROR: Failed to write block 0 to target - copy aborted", kCount}),
    testing::ParamName());

}  // namespace
}  // namespace quillmar
