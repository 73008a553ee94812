// The copy engine and the operations against the kernel's own failure modes: sectors that fail to
// read or write, failed flushes, short writes, full file systems, vanishing drives, writes dropped
// silently, mounted disks. Every drive is a file in the test's temporary folder, a loop device over
// one, or the fault file system serving one, each undone by the test itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "disk/copy_engine.h"
#include "disk/drive_table.h"
#include "disk/unique_fd.h"
#include "ops/operations.h"
#include "ops/verify.h"
#include "tests/support/copy_fixture.h"

namespace quillmar {
namespace {

using testing::Bytes;
using testing::Pattern;

constexpr uint64_t kSmall = 8192;   // 4 MiB: less than a write-behind window
constexpr uint64_t kLarge = 49152;  // 24 MiB: beyond the first window

int Sh(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class KernelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0 ||
        Sh("fusermount3 -V >/dev/null && losetup -f >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "needs root, /dev/fuse, fusermount3 and a free loop device";
  }
  // Undoes what the test made, last first, retrying while udev or blkid still hold it.
  void TearDown() override {
    for (auto undo = undo_.rbegin(); undo != undo_.rend(); ++undo)
      Sh("for i in $(seq 50); do " + undo->first + " 2>/dev/null && exit; sleep 0.1; done; " +
         undo->second);
  }

  std::string Folder(const std::string& name) {
    ::mkdir(dir_.File(name).c_str(), 0755);
    return dir_.File(name);
  }
  // A loop device over file ("" when none could be attached); detached, exactly it, at the end.
  std::string Loop(const std::string& file) {
    std::string device(64, '\0');
    FILE* out = ::popen(("losetup --find --show " + file).c_str(), "r");
    device.resize(out != nullptr && std::fgets(device.data(), 64, out) ? device.find('\n') : 0);
    if (out != nullptr && ::pclose(out) == 0 && !device.empty())
      undo_.push_back({"losetup -d " + device, "true"});
    return device;
  }
  // The fault file system serving file with the given faults: the path of the served image.
  std::string FaultFs(const std::string& file, const std::string& faults) {
    std::string dir = Folder("fault");
    if (Sh(std::string(QUILLMAR_FAULT_FS) + " " + file + " " + dir + " " + faults) != 0)
      return "";
    undo_.push_back({"fusermount3 -u " + dir, "fusermount3 -u -z " + dir});
    return dir + "/disk.img";
  }
  bool Mount(const std::string& what, const std::string& dir, const std::string& options) {
    if (Sh("mount " + options + " " + what + " " + dir) != 0)
      return false;
    undo_.push_back({"umount " + dir, "umount -l " + dir});
    return true;
  }

  std::vector<std::pair<std::string, std::string>> undo_;  // command, and the fallback
  testing::TempDir dir_;
  testing::ScriptedFrontEnd ui_{true, dir_.File("quillmar.log")};
};

enum Via { kLoopSource, kLoopTarget, kFileTarget, kTmpfsTarget };
enum Ends { kComplete, kVerifyFails, kReadAbort, kWriteAbort };

// One fault: which drive has it and how the copy reaches that drive, the fault file system's
// options, the source's size, and how the copy of the whole source ends. An abort line names the
// first block not known to be on the target; it lies in [first, last] and starts a chunk.
struct FaultRow {
  const char* name;
  Via via;
  const char* faults;
  uint64_t blocks;
  Ends ends;
  uint64_t first = 0, last = 0;
};

const FaultRow kFaultRows[] = {
    {"ReadErrorAtAChunkStart", kLoopSource, "--bad-read=1024", kLarge, kReadAbort, 1024, 1024},
    {"ReadErrorInsideAChunk", kLoopSource, "--bad-read=1500", kLarge, kReadAbort, 1024, 1024},
    {"SourceVanishes", kLoopSource, "--die-after-bytes=9000000", kLarge, kReadAbort, 0, kLarge},
    {"WriteErrorFoundByTheFlush", kLoopTarget, "--bad-write=1000", kSmall, kWriteAbort},
    {"WriteErrorFoundByAWindow", kLoopTarget, "--bad-write=40000", kLarge, kWriteAbort, 0, 40000},
    {"WriteErrorInTheLastSector", kLoopTarget, "--bad-write=49151", kLarge, kWriteAbort, 0, 49151},
    {"FlushFails", kLoopTarget, "--bad-fsync", kSmall, kWriteAbort},
    {"TargetVanishes", kLoopTarget, "--die-after-bytes=6000000", kLarge, kWriteAbort, 0, kLarge},
    {"WriteErrorAtOnce", kFileTarget, "--bad-write=3000", kSmall, kWriteAbort, 2560, 2560},
    {"ShortWriteThenNone", kFileTarget, "--short-write=3000", kSmall, kWriteAbort, 2560, 2560},
    {"FileSystemFull", kTmpfsTarget, "", kSmall, kWriteAbort, 0, 2048},
    {"NoFault", kLoopTarget, "", kLarge, kComplete},
    {"WriteDroppedSilently", kLoopTarget, "--lost-write=1234", kSmall, kVerifyFails},
};

class FaultTest : public KernelTest, public ::testing::WithParamInterface<FaultRow> {};

// Nothing is reported copied that is not on the disk.
TEST_P(FaultTest, CopyReportsOnlyWhatReachedTheDisk) {
  const FaultRow& row = GetParam();
  std::string source = dir_.File("source.img");
  std::string target = dir_.File("target.img");
  std::string data = target;  // the file that holds what reached the target drive
  testing::WriteFile(source, Pattern(Bytes(row.blocks), 1));
  if (row.via == kLoopSource) {
    source = Loop(FaultFs(source, row.faults));
  } else if (row.via == kTmpfsTarget) {
    ASSERT_TRUE(Mount("tmpfs", Folder("small"), "-t tmpfs -o size=1M"));
    target = data = dir_.File("small/target.img");
  } else {
    testing::WriteFile(data, std::vector<uint8_t>(Bytes(row.blocks)));
    target = FaultFs(data, row.faults);
    if (row.via == kLoopTarget)
      target = Loop(target);
  }
  ASSERT_FALSE(source.empty() || target.empty());
  // Held open, a loop device keeps its page cache after the copy: a dropped write hides there.
  UniqueFd holder(::open(target.c_str(), O_RDONLY | O_CLOEXEC));

  int copied = CopyBlocks(source, target, 0, 0, 0);

  std::vector<uint8_t> expected = Pattern(Bytes(row.blocks), 1);
  std::vector<uint8_t> written = testing::ReadFile(data);
  if (row.ends == kComplete || row.ends == kVerifyFails) {
    ASSERT_EQ(copied, 0) << ui_.Transcript();
    SetVerifyAfterCopy(true);
    EXPECT_EQ(VerifyCopyIfAsked(source, target, 0, 0, row.blocks) == 0, written == expected);
    SetVerifyAfterCopy(false);
    EXPECT_EQ(written == expected, row.ends == kComplete);
    return;
  }
  EXPECT_EQ(copied, -1);
  bool read = row.ends == kReadAbort;
  std::string abort =
      std::string("ERROR: Failed to ") + (read ? "read" : "write") + " block %" SCNu64;
  uint64_t block = UINT64_MAX;
  ASSERT_EQ(std::sscanf(ui_.lines().back().c_str(), abort.c_str(), &block), 1) << ui_.Transcript();
  EXPECT_GE(block, row.first);
  EXPECT_LE(block, row.last);
  EXPECT_EQ(block % kCopyChunkBlocks, 0u);
  ASSERT_GE(written.size(), Bytes(block));
  EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + Bytes(block), written.begin()));
  if (read) {
    EXPECT_EQ(written.size(), Bytes(block)) << "nothing after the failing chunk";
  }
  EXPECT_EQ(ui_.boxes().size(), read ? 0u : 1u) << "the write error is shown, a read abort logged";
  EXPECT_FALSE(ui_.progress_visible());
}

INSTANTIATE_TEST_SUITE_P(Kernel, FaultTest, ::testing::ValuesIn(kFaultRows), testing::ParamName());

// A backup that fills the file system fails, keeps the old image and leaves no partial file.
TEST_F(KernelTest, BackupOntoAFullFileSystemKeepsTheOldImage) {
  std::string small = Folder("small");
  ASSERT_TRUE(Mount("tmpfs", small, "-t tmpfs -o size=4M"));
  ResetDriveTable();
  DriveInfo& drive = DriveTable[0];
  drive.device_path = dir_.File("source.img");
  drive.model = "source.img";
  drive.size_sectors = 12000;
  drive.p1_length = 1000;  // an image of 11,242 blocks (5.5 MiB)
  drive.is_replaytv = 1;
  testing::WriteFile(drive.device_path, Pattern(Bytes(12000), 1));
  testing::WriteFile(small + "/old.rtv", Pattern(Bytes(2048), 7));
  ui_.ChooseFileAnswer(small + "/old.rtv");

  EXPECT_EQ(BackupSourceDrive(0, nullptr), -1);

  ResetDriveTable();
  EXPECT_EQ(ui_.boxes().size(), 1u) << ui_.Transcript();
  EXPECT_EQ(testing::ReadFile(small + "/old.rtv"), Pattern(Bytes(2048), 7));
  auto files = std::filesystem::directory_iterator(small);
  EXPECT_EQ(std::distance(files, {}), 1) << "a partial image beside the old one";
}

// O_EXCL: the kernel refuses to open a disk with a mounted file system for writing.
TEST_F(KernelTest, MountedDiskIsNeverWritten) {
  std::string image = dir_.File("ext2.img");
  testing::WriteFile(image, std::vector<uint8_t>(16 << 20));
  ASSERT_EQ(Sh("mkfs.ext2 -q -F " + image), 0);
  std::string loop = Loop(image);
  ASSERT_TRUE(Mount(loop, Folder("mnt"), "-t ext2"));
  std::vector<uint8_t> before = testing::ReadFile(loop);
  testing::WriteFile(dir_.File("source.img"), Pattern(Bytes(16), 1));

  EXPECT_EQ(CopyBlocks(dir_.File("source.img"), loop, 0, 4096, 16), -1);

  EXPECT_EQ(ui_.lines().back(), "*** ERROR: Could not open device " + loop);
  EXPECT_EQ(ui_.progress_shown(), 0);
  EXPECT_EQ(testing::ReadFile(loop), before);
}

}  // namespace
}  // namespace quillmar
