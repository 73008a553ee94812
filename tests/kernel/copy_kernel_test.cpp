// The copy engine against the kernel's own failure modes: write errors that only the flush
// reports, full file systems, drives that vanish, mounted disks. Each drive is a loop device over
// a file in the test's temporary folder, some of them served by the fault file system.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "disk/copy_engine.h"
#include "disk/drive_table.h"
#include "disk/unique_fd.h"
#include "ops/operations.h"
#include "ops/verify.h"
#include "tests/support/copy_fixture.h"
#include "tests/support/copy_fixture.h"
#include "tests/kernel/kernel_fixture.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

using testing::Bytes;
using testing::FaultFs;
using testing::LoopDevice;
using testing::Mount;
using testing::Pattern;

constexpr uint64_t kSmallBlocks = 8192;   // 4 MiB: shorter than a write-behind window
constexpr uint64_t kLargeBlocks = 49152;  // 24 MiB: three windows

// The block named by an abort line of the given kind ("read", "write"); false when the line is
// not one.
bool AbortBlock(const std::string& line, const std::string& kind, uint64_t* block) {
  std::string format = "ERROR: Failed to " + kind + " block %" SCNu64 " %*s";
  if (std::sscanf(line.c_str(), format.c_str(), block) != 1)
    return false;
  const char* direction = kind == "read" ? " from source" : " to target";
  return line == "ERROR: Failed to " + kind + " block " + std::to_string(*block) + direction +
                     " - copy aborted";
}

std::vector<uint8_t> ReadAt(const std::string& path, uint64_t offset, size_t length) {
  std::vector<uint8_t> bytes(length);
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  ssize_t n = ::pread(fd.get(), bytes.data(), length, static_cast<off_t>(offset));
  bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return bytes;
}

class KernelCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why = testing::KernelTestsUnavailable();
    if (!why.empty())
      GTEST_SKIP() << why;
  }

  std::string Folder(const std::string& name) {
    std::string path = dir_.File(name);
    ::mkdir(path.c_str(), 0755);
    return path;
  }

  // A source image file of the given number of blocks, filled with Pattern(…, 1).
  std::string MakeSource(uint64_t blocks) {
    std::string path = dir_.File("source.img");
    testing::WriteFile(path, Pattern(Bytes(blocks), 1));
    return path;
  }

  // The write error box, then a write abort line; the block it names.
  uint64_t ExpectWriteFailure() {
    EXPECT_EQ(ui_.boxes().size(), 1u) << ui_.Transcript();
    if (!ui_.boxes().empty()) {
      EXPECT_EQ(ui_.boxes()[0].text, "*** ERROR writing block");
    }
    uint64_t block = UINT64_MAX;
    EXPECT_TRUE(AbortBlock(ui_.lines().back(), "write", &block)) << ui_.Transcript();
    EXPECT_FALSE(ui_.progress_visible());
    return block;
  }

  testing::TempDir dir_;
  testing::ScriptedFrontEnd ui_{true, dir_.File("quillmar.log")};
};

// What the other cases rely on: a buffered write over a bad sector succeeds, the flush reports the
// error, and only once.
TEST_F(KernelCopyTest, WriteErrorOfALoopDeviceSurfacesOnceAtTheFlush) {
  std::string backing = dir_.File("backing.img");
  testing::MakeSparseFile(backing, Bytes(kSmallBlocks));
  FaultFs fs(backing, Folder("fault"), {"--bad-write=100"});
  ASSERT_TRUE(fs.valid());
  LoopDevice loop(fs.image());
  ASSERT_TRUE(loop.valid());

  UniqueFd fd(::open(loop.path().c_str(), O_WRONLY | O_EXCL | O_CLOEXEC));
  ASSERT_TRUE(fd.valid());
  std::vector<uint8_t> page(4096, 0xC3);
  EXPECT_EQ(::pwrite(fd.get(), page.data(), page.size(), Bytes(96)), 4096);
  EXPECT_EQ(::fsync(fd.get()), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(::fsync(fd.get()), 0);  // the error is gone: a flush is never retried to clear it
}

// A write the device drops while reporting success is still in the page cache of the loop device
// after the flush (while anyone holds the device open): only a read-back past the cache finds it.
TEST_F(KernelCopyTest, VerifyFindsAWriteTheDeviceDroppedSilently) {
  std::string source = MakeSource(kSmallBlocks);
  std::string backing = dir_.File("backing.img");
  testing::MakeSparseFile(backing, Bytes(kSmallBlocks));
  FaultFs fs(backing, Folder("fault"), {"--lost-write=1234"});
  ASSERT_TRUE(fs.valid());
  LoopDevice loop(fs.image());
  ASSERT_TRUE(loop.valid());
  // Held open, the device keeps its page cache when the copy closes it.
  UniqueFd holder(::open(loop.path().c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(holder.valid());

  ASSERT_EQ(CopyBlocks(source, loop.path(), 0, 0, 0), 0) << ui_.Transcript();
  SetVerifyAfterCopy(true);
  EXPECT_EQ(VerifyCopyIfAsked(source, loop.path(), 0, 0, 0), -1);
  SetVerifyAfterCopy(false);
  ASSERT_FALSE(ui_.boxes().empty());
  EXPECT_EQ(ui_.boxes().back().text, "*** ERROR: Verify failed: block 1234 of " + loop.path() +
                                         " differs from the source.\n           The copy is NOT "
                                         "complete.");
}

TEST_F(KernelCopyTest, FreeLoopDeviceTakesTheCopy) {
  std::string source = MakeSource(kLargeBlocks);
  std::string backing = dir_.File("backing.img");
  testing::MakeSparseFile(backing, Bytes(kLargeBlocks + 100));
  {
    LoopDevice loop(backing);
    ASSERT_TRUE(loop.valid());

    ASSERT_EQ(CopyBlocks(source, loop.path(), 0, 100, 0), 0) << ui_.Transcript();
  }
  EXPECT_EQ(ReadAt(backing, Bytes(100), Bytes(kLargeBlocks)), Pattern(Bytes(kLargeBlocks), 1));
  EXPECT_EQ(ReadAt(backing, 0, Bytes(100)), std::vector<uint8_t>(Bytes(100), 0));
  EXPECT_TRUE(ui_.boxes().empty());
}

// Bad sectors of the target are only found when the data goes out: at the wait for a write-behind
// window, or at the flush. Either way the copy fails with the write error.
struct BadTarget {
  const char* name;
  uint64_t blocks;
  std::vector<std::string> faults;
};

void PrintTo(const BadTarget& bad, std::ostream* out) {
  *out << bad.name;
}

class BadTargetTest : public KernelCopyTest, public ::testing::WithParamInterface<BadTarget> {};

TEST_P(BadTargetTest, CopyFailsWithTheWriteError) {
  const BadTarget& bad = GetParam();
  std::string source = MakeSource(bad.blocks);
  std::string backing = dir_.File("backing.img");
  testing::MakeSparseFile(backing, Bytes(bad.blocks));
  FaultFs fs(backing, Folder("fault"), bad.faults);
  ASSERT_TRUE(fs.valid());
  LoopDevice loop(fs.image());
  ASSERT_TRUE(loop.valid());

  EXPECT_EQ(CopyBlocks(source, loop.path(), 0, 0, static_cast<uint32_t>(bad.blocks)), -1);

  uint64_t block = ExpectWriteFailure();
  EXPECT_EQ(block % (kWriteBehindWindowBytes / 512), 0u) << "a window start";
  EXPECT_LT(block, bad.blocks);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BadTargetTest,
    ::testing::Values(BadTarget{"SectorInShortCopy", kSmallBlocks, {"--bad-write=1000"}},
                      BadTarget{"SectorInSecondWindow", kLargeBlocks, {"--bad-write=20000"}},
                      BadTarget{"LastSector", kLargeBlocks, {"--bad-write=49151"}},
                      BadTarget{"Fsync", kSmallBlocks, {"--bad-fsync"}},
                      BadTarget{"VanishesMidCopy", kLargeBlocks, {"--die-after-bytes=6000000"}}),
    testing::ParamName());

// A source drive with a bad sector, or one that vanishes: the blocks before the failing chunk are
// copied, nothing after them.
struct BadSource {
  const char* name;
  std::vector<std::string> faults;
  uint64_t failing_chunk;  // UINT64_MAX: somewhere in the copy
};

void PrintTo(const BadSource& bad, std::ostream* out) {
  *out << bad.name;
}

class BadSourceTest : public KernelCopyTest, public ::testing::WithParamInterface<BadSource> {};

TEST_P(BadSourceTest, CopyStopsBeforeTheChunk) {
  const BadSource& bad = GetParam();
  std::string backing = MakeSource(kLargeBlocks);
  FaultFs fs(backing, Folder("fault"), bad.faults);
  ASSERT_TRUE(fs.valid());
  LoopDevice loop(fs.image());
  ASSERT_TRUE(loop.valid());
  std::string target = dir_.File("target.img");

  EXPECT_EQ(CopyBlocks(loop.path(), target, 0, 0, 0), -1);

  uint64_t block = UINT64_MAX;
  ASSERT_TRUE(AbortBlock(ui_.lines().back(), "read", &block)) << ui_.Transcript();
  if (bad.failing_chunk != UINT64_MAX) {
    EXPECT_EQ(block, bad.failing_chunk);
  }
  EXPECT_EQ(block % kCopyChunkBlocks, 0u);
  EXPECT_TRUE(ui_.boxes().empty());
  EXPECT_EQ(testing::ReadFile(target), Pattern(Bytes(block), 1));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BadSourceTest,
    ::testing::Values(BadSource{"SectorAtChunkBoundary", {"--bad-read=1024"}, 1024},
                      BadSource{"SectorInsideChunk", {"--bad-read=1500"}, 1024},
                      BadSource{"VanishesMidCopy", {"--die-after-bytes=9000000"}, UINT64_MAX}),
    testing::ParamName());

TEST_F(KernelCopyTest, FullTmpfsTargetIsAWriteError) {
  std::string source = MakeSource(kSmallBlocks);
  std::string small = Folder("small");
  Mount tmpfs("tmpfs", "tmpfs", small, "size=1M");
  ASSERT_TRUE(tmpfs.valid());
  std::string target = small + "/target.img";

  EXPECT_EQ(CopyBlocks(source, target, 0, 0, 0), -1);

  uint64_t block = ExpectWriteFailure();
  EXPECT_EQ(block % kCopyChunkBlocks, 0u);
  EXPECT_LE(Bytes(block), uint64_t{1} << 20);
  std::vector<uint8_t> written = testing::ReadFile(target);
  ASSERT_GE(written.size(), Bytes(block));
  written.resize(Bytes(block));
  EXPECT_EQ(written, Pattern(Bytes(block), 1));
}

// A backup that fills the file system fails, and leaves the old image as it was and no partial
// image beside it that a restore would accept.
TEST_F(KernelCopyTest, BackupOntoAFullFileSystemKeepsTheOldImage) {
  ResetDriveTable();
  DriveInfo& drive = DriveTable[0];
  drive.device_path = MakeSource(12000);
  drive.model = "source.img";
  drive.size_sectors = 12000;
  drive.p1_length = 1000;  // an image of 11,242 blocks (5.5 MiB)
  drive.is_replaytv = 1;
  std::string small = Folder("small");
  Mount tmpfs("tmpfs", "tmpfs", small, "size=4M");
  ASSERT_TRUE(tmpfs.valid());
  std::string old = small + "/old.rtv";
  testing::WriteFile(old, Pattern(Bytes(2048), 7));
  ui_.ChooseFileAnswer(old);

  EXPECT_EQ(BackupSourceDrive(0, nullptr), -1);

  ExpectWriteFailure();
  EXPECT_EQ(testing::ReadFile(old), Pattern(Bytes(2048), 7));
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(small))
    files.push_back(entry.path().filename());
  EXPECT_EQ(files, std::vector<std::string>{"old.rtv"});
  ResetDriveTable();
}

// O_EXCL: the kernel refuses to open a disk with a mounted file system for writing.
TEST_F(KernelCopyTest, MountedFileSystemIsNeverWritten) {
  if (testing::RunProgram({"mkfs.ext2", "-V"}) != 0)
    GTEST_SKIP() << "needs mkfs.ext2";
  std::string source = MakeSource(16);
  std::string backing = dir_.File("ext2.img");
  testing::MakeSparseFile(backing, 16 << 20);
  ASSERT_EQ(testing::RunProgram({"mkfs.ext2", "-q", "-F", backing}), 0);
  LoopDevice loop(backing);
  ASSERT_TRUE(loop.valid());
  Mount ext2("ext2", loop.path(), Folder("mnt"));
  ASSERT_TRUE(ext2.valid());
  std::vector<uint8_t> before = ReadAt(loop.path(), Bytes(4096), Bytes(16));

  EXPECT_EQ(CopyBlocks(source, loop.path(), 0, 4096, 16), -1);

  std::string text = "*** ERROR: Could not open device " + loop.path();
  ASSERT_GE(ui_.lines().size(), 2u);
  EXPECT_EQ(ui_.lines()[ui_.lines().size() - 2], text);
  EXPECT_EQ(ui_.lines().back(), text);
  ASSERT_EQ(ui_.boxes().size(), 1u);
  EXPECT_EQ(ui_.boxes()[0].text, text);
  EXPECT_EQ(ui_.progress_shown(), 0);
  EXPECT_EQ(ReadAt(loop.path(), Bytes(4096), Bytes(16)), before);
}

}  // namespace
}  // namespace quillmar
