#include "disk/block_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "disk/unique_fd.h"
#include "tests/support/copy_fixture.h"
#include "tests/support/fake_device.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

using testing::FakeDevice;
using testing::FakeDeviceIo;
using testing::Pattern;

class BlockIoTest : public ::testing::Test {
 protected:
  // An image file of the given length holding Pattern(length, 1).
  std::string MakeImage(size_t length) {
    std::string path = dir_.File("image");
    testing::WriteFile(path, Pattern(length, 1));
    return path;
  }

  bool ShownError(const std::string& text) const {
    for (const testing::Box& box : ui_.boxes()) {
      if (box.text == text && box.caption == "*** ERROR ***")
        return true;
    }
    return false;
  }

  testing::TempDir dir_;
  testing::ScriptedFrontEnd ui_{true, dir_.File("quillmar.log")};
};

// A read running into the end of an image file (mid-sector or exactly at it) gives the bytes
// present, then zeros; a read error keeps the sectors before it and zeroes the rest. Quiet reads
// show and log nothing.
struct ShortRead {
  const char* name;
  size_t image_bytes;  // 0: a device whose sector 2 cannot be read
  uint64_t offset;
  ssize_t result;
  size_t kept;
  const char* error;
};

void PrintTo(const ShortRead& read, std::ostream* out) {
  *out << read.name;
}

class ShortReadTest : public BlockIoTest,
                      public ::testing::WithParamInterface<std::tuple<ShortRead, bool>> {};

TEST_P(ShortReadTest, KeepsWhatWasReadAndZeroesTheRest) {
  auto [read, quiet] = GetParam();
  std::optional<FakeDeviceIo> io;
  std::string path = "disk";
  std::vector<uint8_t> content;
  if (read.image_bytes == 0) {
    FakeDevice& disk = io.emplace().Add(path, 0);
    disk.bytes() = content = Pattern(4 * 512, 1);
    disk.FailReadAt(2);
  } else {
    path = MakeImage(read.image_bytes);
    content = Pattern(read.image_bytes, 1);
  }
  UniqueFd fd = UniqueFd::Open(path, OpenMode::kReadOnly);
  ASSERT_EQ(SeekExact(fd.get(), read.offset), 1);
  std::vector<uint8_t> buffer(1024, 0xAA);

  EXPECT_EQ(ReadBlocks(fd.get(), buffer.data(), buffer.size(), quiet), read.result);

  std::vector<uint8_t> expected(content.begin() + static_cast<ptrdiff_t>(read.offset),
                                content.begin() + static_cast<ptrdiff_t>(read.offset + read.kept));
  expected.resize(buffer.size(), 0);
  EXPECT_EQ(buffer, expected);
  EXPECT_EQ(ShownError(read.error), !quiet);
  EXPECT_EQ(ui_.Logged(read.error), !quiet);
  if (quiet) {
    EXPECT_TRUE(ui_.lines().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ends, ShortReadTest,
    ::testing::Combine(
        ::testing::Values(ShortRead{"MidSector", 1000, 512, 488, 488, "*** ERROR: Unexpected EOF"},
                          ShortRead{"AtTheEnd", 1024, 1024, 0, 0, "*** ERROR: Unexpected EOF"},
                          ShortRead{"ReadError", 0, 512, -1, 512, "*** ERROR reading block"}),
        ::testing::Bool()),
    [](const auto& param_info) {
      return std::string(std::get<0>(param_info.param).name) +
             (std::get<1>(param_info.param) ? "Quiet" : "Shown");
    });

// Transfers split by the device into pieces of these sizes are joined into one full result.
class SplitTransferTest : public BlockIoTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(SplitTransferTest, ReadCollectsEveryPiece) {
  FakeDeviceIo io;
  FakeDevice& disk = io.Add("disk", 0);
  disk.bytes() = Pattern(8 * 512, 1);
  disk.ShortTransfers(GetParam());
  UniqueFd fd = UniqueFd::Open("disk", OpenMode::kReadOnly);
  std::vector<uint8_t> buffer(8 * 512);

  EXPECT_EQ(ReadBlocks(fd.get(), buffer.data(), buffer.size(), false), 8 * 512);

  EXPECT_EQ(buffer, disk.bytes());
  EXPECT_TRUE(ui_.boxes().empty());
}

TEST_P(SplitTransferTest, WriteContinuesWhereEachPieceStopped) {
  FakeDeviceIo io;
  FakeDevice& disk = io.Add("disk", 8 * 512);
  disk.ShortTransfers(GetParam());
  UniqueFd fd = UniqueFd::Open("disk", OpenMode::kWriteOnly);
  std::vector<uint8_t> data = Pattern(8 * 512, 9);

  EXPECT_EQ(WriteBlocks(fd.get(), data.data(), data.size()), 8 * 512);

  EXPECT_EQ(disk.bytes(), data);
  uint64_t expected_offset = 0;
  for (const testing::WriteCall& call : disk.writes()) {
    EXPECT_EQ(call.offset, expected_offset);
    expected_offset += static_cast<uint64_t>(call.result);
  }
}

INSTANTIATE_TEST_SUITE_P(PieceSizes, SplitTransferTest, ::testing::Values(1, 100, 511, 513, 4095),
                         testing::NumberName{"Bytes"});

// A write that fails, or makes no progress on a full device, is an error and never loops.
struct WriteFailure {
  const char* name;
  bool zero_write;
};

void PrintTo(const WriteFailure& failure, std::ostream* out) {
  *out << failure.name;
}

class WriteFailureTest : public BlockIoTest, public ::testing::WithParamInterface<WriteFailure> {};

TEST_P(WriteFailureTest, IsReportedAsAWriteError) {
  FakeDeviceIo io;
  FakeDevice& disk = io.Add("disk", 4 * 512);
  disk.NoSpaceBeyond(1536, GetParam().zero_write);
  UniqueFd fd = UniqueFd::Open("disk", OpenMode::kWriteOnly);
  std::vector<uint8_t> data = Pattern(4 * 512, 9);

  EXPECT_EQ(WriteBlocks(fd.get(), data.data(), data.size()), -1);

  EXPECT_TRUE(ShownError("*** ERROR writing block"));
  EXPECT_TRUE(ui_.Logged("*** ERROR writing block"));
  EXPECT_EQ(disk.writes().size(), 2u);  // the part that fitted, then the refused rest
}

INSTANTIATE_TEST_SUITE_P(Kinds, WriteFailureTest,
                         ::testing::Values(WriteFailure{"NoSpace", false},
                                           WriteFailure{"NoProgress", true}),
                         testing::ParamName());

// A seek that fails or lands elsewhere is logged, not shown.
class FailedSeekTest : public BlockIoTest, public ::testing::WithParamInterface<int64_t> {};

TEST_P(FailedSeekTest, IsLogged) {
  FakeDeviceIo io;
  FakeDevice& disk = io.Add("disk", 8 * 512);
  if (GetParam() == 0)
    disk.FailSeeks();
  else
    disk.SeeksLandOffBy(GetParam());
  UniqueFd fd = UniqueFd::Open("disk", OpenMode::kReadOnly);

  EXPECT_EQ(SeekExact(fd.get(), 1024), 0);

  std::string line = GetParam() == 0 ? "File seek error" : "File seek error: wanted 1024 got 1536";
  EXPECT_EQ(ui_.lines(), std::vector<std::string>{line});
  EXPECT_TRUE(ui_.boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(FailsOrLandsAfter, FailedSeekTest, ::testing::Values(0, 512),
                         [](const ::testing::TestParamInfo<int64_t>& row) {
                           return row.param == 0 ? std::string("Fails")
                                                 : testing::NameFromNumber("LandsOffBy", row.param);
                         });

TEST_F(BlockIoTest, SeekBeyondAnyFileOffsetFailsOnARealFile) {
  UniqueFd fd = UniqueFd::Open(MakeImage(512), OpenMode::kReadOnly);

  EXPECT_EQ(SeekExact(fd.get(), UINT64_MAX), 0);
  EXPECT_EQ(SeekExact(fd.get(), uint64_t{1} << 63), 0);
  EXPECT_EQ(SeekExact(fd.get(), uint64_t{5} << 32), 1);  // 20 GiB: past the end is allowed

  EXPECT_EQ(ui_.lines(), (std::vector<std::string>{"File seek error", "File seek error"}));
}

TEST_F(BlockIoTest, FailedFlushIsAWriteErrorAndClosesTheDescriptor) {
  FakeDeviceIo io;
  FakeDevice& disk = io.Add("disk", 512);
  disk.FailFlush();
  UniqueFd fd = UniqueFd::Open("disk", OpenMode::kWriteOnly);

  EXPECT_EQ(FlushAndClose(fd), -1);

  EXPECT_FALSE(fd.valid());
  EXPECT_EQ(io.open_descriptors(), 0);
  EXPECT_EQ(disk.flushes(), 1);
  EXPECT_TRUE(ShownError("*** ERROR writing block"));
}

TEST_F(BlockIoTest, FlushAndCloseOfARealFile) {
  UniqueFd fd = UniqueFd::Open(MakeImage(512), OpenMode::kWriteOnly);
  EXPECT_EQ(FlushAndClose(fd), 0);
  EXPECT_FALSE(fd.valid());
  EXPECT_TRUE(ui_.boxes().empty());
}

// Write-behind where the file has none is skipped silently; any other failure is a write error.
struct WritebackFailure {
  const char* name;
  int error;
  int expected;
};

void PrintTo(const WritebackFailure& failure, std::ostream* out) {
  *out << failure.name;
}

class WriteBehindFailureTest : public BlockIoTest,
                               public ::testing::WithParamInterface<WritebackFailure> {};

TEST_P(WriteBehindFailureTest, StartAndAwait) {
  FakeDeviceIo io;
  io.Add("disk", 512).FailWriteback(GetParam().error);
  UniqueFd fd = UniqueFd::Open("disk", OpenMode::kWriteOnly);

  EXPECT_EQ(StartWriteBehind(fd.get(), 0, 512), GetParam().expected);
  EXPECT_EQ(AwaitWriteBehind(fd.get(), 0, 512), GetParam().expected);

  EXPECT_EQ(ShownError("*** ERROR writing block"), GetParam().expected == -1);
}

INSTANTIATE_TEST_SUITE_P(Errors, WriteBehindFailureTest,
                         ::testing::Values(WritebackFailure{"Espipe", ESPIPE, 1},
                                           WritebackFailure{"Einval", EINVAL, 1},
                                           WritebackFailure{"Enosys", ENOSYS, 1},
                                           WritebackFailure{"Eio", EIO, -1},
                                           WritebackFailure{"Enospc", ENOSPC, -1}),
                         testing::ParamName());

TEST_F(BlockIoTest, WriteBehindOnAPipeIsSkipped) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  UniqueFd read_end(ends[0]);
  UniqueFd write_end(ends[1]);

  EXPECT_EQ(StartWriteBehind(write_end.get(), 0, 512), 1);
  EXPECT_EQ(AwaitWriteBehind(write_end.get(), 0, 512), 1);
  EXPECT_TRUE(ui_.boxes().empty());
}

TEST_F(BlockIoTest, WriteBehindOnARealFile) {
  UniqueFd fd = UniqueFd::Open(MakeImage(4096), OpenMode::kWriteOnly);
  EXPECT_EQ(StartWriteBehind(fd.get(), 0, 4096), 0);
  EXPECT_EQ(AwaitWriteBehind(fd.get(), 0, 4096), 0);
}

TEST_F(BlockIoTest, OpenFailureIsLoggedTwiceAndShownOnce) {
  ReportOpenFailure("/dev/loop9");

  std::string text = "*** ERROR: Could not open device /dev/loop9";
  EXPECT_EQ(ui_.lines(), (std::vector<std::string>{text, text}));
  ASSERT_EQ(ui_.boxes().size(), 1u);
  EXPECT_TRUE(ShownError(text));
}

}  // namespace
}  // namespace quillmar
