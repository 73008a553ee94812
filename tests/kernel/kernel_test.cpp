// The copy engine against the kernel's failure modes. Every drive is a file in the test's folder,
// a loop device over one or one the fault file system serves, undone at the end. (A mounted disk
// refused is the hardware tier's case, on the guest's real block devices.)
#define FUSE_USE_VERSION 31

#include <fcntl.h>
#include <fuse.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <list>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "disk/copy_engine.h"
#include "disk/unique_fd.h"
#include "ops/verify.h"
#include "tests/support/copy_fixture.h"
#include "tests/support/disk_aliases.h"

namespace quillmar {
namespace {

using testing::Bytes;
using testing::Pattern;

// The fault file system: a process forked from the test serves one image file as /disk.img, with
// direct I/O, and fails chosen sectors as a failing drive does (so does a loop device over it).
struct Faults {
  std::set<uint64_t> bad_reads = {};     // a read stops short before one, and fails with EIO at it
  std::set<uint64_t> bad_writes = {};    // a write touching one fails with EIO
  std::set<uint64_t> lost_writes = {};   // a write touching one is dropped, success reported
  std::set<uint64_t> short_writes = {};  // a write stops short before one, the next accepts nothing
  bool bad_fsync = false;                // every fsync fails
  long long die_after_bytes = -1;        // the process ends after so many bytes: the drive vanishes
};

Faults served;  // in the file system process
int backing = -1;
long long transferred = 0;
constexpr const char* kImage = "/disk.img";

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
  std::memset(st, 0, sizeof *st);
  st->st_mode = S_IFDIR | 0755;
  if (std::strcmp(path, "/") == 0)
    return 0;
  return std::strcmp(path, kImage) != 0 ? -ENOENT : (::fstat(backing, st) == 0 ? 0 : -errno);
}

int Open(const char* path, fuse_file_info* info) {
  info->direct_io = 1;  // every transfer reaches this process: no page cache in between
  return std::strcmp(path, kImage) == 0 ? 0 : -ENOENT;
}

void Count(size_t size) {
  if (served.die_after_bytes >= 0 && transferred >= served.die_after_bytes)
    ::_exit(3);
  transferred += static_cast<long long>(size);
}

int Read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info*) {
  Count(size);
  size_t good = testing::BytesBeforeListedSector(served.bad_reads, offset, size);
  if (good == 0 && size > 0)
    return -EIO;
  ssize_t n = ::pread(backing, buffer, good, offset);
  return n < 0 ? -errno : static_cast<int>(n);
}

int Write(const char*, const char* buffer, size_t size, off_t offset, fuse_file_info*) {
  Count(size);
  if (testing::BytesBeforeListedSector(served.bad_writes, offset, size) < size)
    return -EIO;
  size_t accepted = testing::BytesBeforeListedSector(served.short_writes, offset, size);
  if (accepted == 0 && size > 0) {
    served.short_writes.erase(offset / kBlockSize);
    return 0;
  }
  if (testing::BytesBeforeListedSector(served.lost_writes, offset, accepted) < accepted)
    return static_cast<int>(accepted);  // dropped, and success reported
  ssize_t n = ::pwrite(backing, buffer, accepted, offset);
  return n < 0 ? -errno : static_cast<int>(n);
}

int Fsync(const char*, int, fuse_file_info*) {
  return served.bad_fsync ? -EIO : (::fsync(backing) == 0 ? 0 : -errno);
}

constexpr uint64_t kSmall = 8192;   // 4 MiB: less than a write-behind window
constexpr uint64_t kLarge = 49252;  // beyond the first window, ending in a part of a chunk

enum Via { kLoopSource, kLoopTarget, kFileTarget, kTmpfsTarget };
enum Ends { kComplete, kVerifyFails, kReadAbort, kWriteAbort };

// One fault: where it is and how the copy reaches it, the source's size and how its copy ends. An
// abort names the first block not known to be on the target, in [first, last], starting a chunk.
struct FaultRow {
  const char* name;
  Via via;
  Faults faults;
  uint64_t blocks;
  Ends ends;
  uint64_t first = 0, last = UINT64_MAX;
};

const FaultRow kFaultRows[] = {
    {"ReadErrorAtAChunkStart", kLoopSource, {.bad_reads = {1024}}, kLarge, kReadAbort, 1024, 1024},
    {"ReadErrorInsideAChunk", kLoopSource, {.bad_reads = {1500}}, kLarge, kReadAbort, 1024, 1024},
    {"SourceVanishes", kLoopSource, {.die_after_bytes = 9000000}, kLarge, kReadAbort},
    {"WriteErrorFoundByTheFlush", kLoopTarget, {.bad_writes = {1000}}, kSmall, kWriteAbort, 0, 0},
    {"WriteErrorInWindowTwo", kLoopTarget, {.bad_writes = {40000}}, kLarge, kWriteAbort},
    {"WriteErrorInTheLastSector", kLoopTarget, {.bad_writes = {kLarge - 1}}, kLarge, kWriteAbort},
    {"FlushFails", kLoopTarget, {.bad_fsync = true}, kSmall, kWriteAbort, 0, 0},
    {"TargetVanishes", kLoopTarget, {.die_after_bytes = 6000000}, kLarge, kWriteAbort},
    {"WriteErrorAtOnce", kFileTarget, {.bad_writes = {3000}}, kSmall, kWriteAbort, 2560, 2560},
    {"ShortWriteThenNone", kFileTarget, {.short_writes = {3000}}, kSmall, kWriteAbort, 2560, 2560},
    {"FileSystemFull", kTmpfsTarget, {}, kSmall, kWriteAbort, 0, 2048},
    {"NoFault", kLoopTarget, {}, kLarge, kComplete},
    {"WriteDroppedSilently", kLoopTarget, {.lost_writes = {1234}}, kSmall, kVerifyFails},
};

class FaultTest : public ::testing::TestWithParam<FaultRow> {
 protected:
  void SetUp() override {
    if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0 ||
        !testing::ShellOutput("fusermount3 -V && losetup -f"))
      GTEST_SKIP() << "needs root, /dev/fuse, fusermount3 and a free loop device";
  }
  // Undoes what the test made, last first, retrying while udev or blkid still hold it.
  void TearDown() override {
    loops_.clear();
    for (auto undo = undo_.rbegin(); undo != undo_.rend(); ++undo)
      testing::ShellOutput("for i in $(seq 50); do " + undo->first +
                           " 2>/dev/null && exit; sleep 0.1; done; " + undo->second);
  }

  std::string Folder(const std::string& name) {
    ::mkdir(dir_.File(name).c_str(), 0755);
    return dir_.File(name);
  }
  // A loop device over file ("" when none could be attached); detached, exactly it, at the end.
  std::string Loop(const std::string& file) { return loops_.emplace_back(file).path(); }
  // The fault file system serving file with the faults, from a process of its own that ends when
  // unmounted: the path of the served image ("" when it did not come up).
  std::string FaultFs(const std::string& file, const Faults& faults) {
    std::string dir = Folder("fault");
    pid_t pid = ::fork();
    if (pid == 0) {  // fuse_main returns here once mounted, and serves on in a daemon
      served = faults;
      backing = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
      fuse_operations ops{};
      ops.getattr = GetAttr;
      ops.open = Open;
      ops.read = Read;
      ops.write = Write;
      ops.fsync = Fsync;
      const char* argv[] = {"quillmar-fault-fs", dir.c_str(), "-s", "-o", "fsname=quillmar-fault"};
      ::_exit(backing < 0 ? 1 : fuse_main(5, const_cast<char**>(argv), &ops, nullptr));
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || status != 0)
      return "";
    undo_.push_back({"fusermount3 -u " + dir, "fusermount3 -u -z " + dir});
    return dir + kImage;
  }

  std::vector<std::pair<std::string, std::string>> undo_;
  std::list<testing::LoopDevice> loops_;
  testing::TempDir dir_;
  testing::ScriptedFrontEnd ui_{true, dir_.File("quillmar.log")};
};

// Nothing is reported copied that is not on the disk.
TEST_P(FaultTest, CopyReportsOnlyWhatReachedTheDisk) {
  const FaultRow& row = GetParam();
  std::string source = dir_.File("source.img"), target = dir_.File("target.img");
  std::string data = target;  // the file that holds what reached the target drive
  const std::vector<uint8_t> expected = Pattern(Bytes(row.blocks), 1);
  testing::WriteFile(source, expected);
  if (row.via == kLoopSource) {
    source = Loop(FaultFs(source, row.faults));
    testing::WriteFile(target, {});
  } else if (row.via == kTmpfsTarget) {
    ASSERT_TRUE(testing::ShellOutput("mount -t tmpfs -o size=1M tmpfs " + Folder("small")));
    undo_.push_back({"umount " + Folder("small"), "umount -l " + Folder("small")});
    target = data = dir_.File("small/target.img");
    testing::WriteFile(target, {});
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

  std::vector<uint8_t> written = testing::ReadFile(data);
  if (row.ends == kComplete || row.ends == kVerifyFails) {
    ASSERT_EQ(copied, 0) << ui_.Transcript();
    SetVerifyAfterCopy(true);
    EXPECT_EQ(VerifyCopyIfAsked(source, target, 0, 0, row.blocks) == 0, written == expected);
    SetVerifyAfterCopy(false);
    EXPECT_EQ(written == expected, row.ends == kComplete);
    return;
  }
  bool read = row.ends == kReadAbort;
  std::string abort =
      std::string("ERROR: Failed to ") + (read ? "read" : "write") + " block %" SCNu64;
  uint64_t block = UINT64_MAX;
  ASSERT_EQ(std::sscanf(ui_.lines().back().c_str(), abort.c_str(), &block), 1) << ui_.Transcript();
  EXPECT_EQ(copied, read && block == 0 ? -1 : kCopyPartlyWritten);
  EXPECT_GE(block, row.first);
  EXPECT_LE(block, row.last);
  EXPECT_EQ(block % kCopyChunkBlocks, 0u);
  ASSERT_GE(written.size(), Bytes(block));
  EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + Bytes(block), written.begin()));
  EXPECT_TRUE(!read || written.size() == Bytes(block)) << "nothing after the failing chunk";
  EXPECT_EQ(ui_.boxes().size(), read ? 0u : 1u) << "the write error is shown, a read abort logged";
  EXPECT_FALSE(ui_.progress_visible());
}

INSTANTIATE_TEST_SUITE_P(Kernel, FaultTest, ::testing::ValuesIn(kFaultRows), testing::ParamName());

}  // namespace
}  // namespace quillmar
