// Undo files and read-back verification on image files: every operation that changes a disk's
// structures is undone byte for byte, also after a crash at chosen points; a changed or different
// disk is refused; a byte the device corrupts silently fails the copy that verifies.
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include <cstring>
#include <set>

#include "disk/copy_stop.h"
#include "disk/forwarding_device_io.h"
#include "disk/undo_recorder.h"
#include "ops/operations.h"
#include "ops/safety_nets.h"
#include "ops/undo_replay.h"
#include "ops/verify.h"
#include "tests/ops/ops_test_env.h"

namespace quillmar {
namespace {

using testing::MakeBlankImage;
using testing::MakeReplayTvDisk;
using testing::ReadSectors;
using testing::ReplayTvDisk;
using testing::WriteSectors;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

enum class Op { kMirror, kPatchKeep, kPatchReset, kPatchReformat, kJoin, kRestore };

// The writes to every path but one pass until the nth; from there on each fails, as if the
// process had died before it. Or, with corrupt set, the write reaching sector `sector` of the
// path `corrupt` lands with one byte flipped and reports success, as a bad device may.
class DeviceFault final : public ForwardingDeviceIo {
 public:
  DeviceFault() : ForwardingDeviceIo(Io()) { SetDeviceIo(this); }
  ~DeviceFault() override { SetDeviceIo(nullptr); }
  DeviceFault(const DeviceFault&) = delete;
  DeviceFault& operator=(const DeviceFault&) = delete;

  std::string spared;   // never fails (the undo file)
  int crash_at = 0;     // 0: no crash
  std::string corrupt;  // the path (or the start of the paths) whose sector is corrupted
  uint64_t sector = 0;

  int Open(const std::string& path, OpenMode mode) override {
    int fd = inner().Open(path, mode);
    if (fd >= 0)
      paths_[fd] = path;
    return fd;
  }
  int64_t Seek(int fd, uint64_t offset) override {
    positions_[fd] = offset;
    return inner().Seek(fd, offset);
  }
  ssize_t Write(int fd, const void* buffer, size_t n) override {
    const std::string& path = paths_[fd];
    if (crash_at > 0 && path != spared && --crash_at == 0)
      crashed_ = true;
    if (crashed_ && path != spared) {
      errno = EIO;
      return -1;
    }
    std::vector<uint8_t> bytes(static_cast<const uint8_t*>(buffer),
                               static_cast<const uint8_t*>(buffer) + n);
    uint64_t at = positions_[fd];
    bool corrupted = !corrupt.empty() && path.rfind(corrupt, 0) == 0;
    if (corrupted && sector * kBlockSize >= at && sector * kBlockSize < at + n)
      bytes[sector * kBlockSize - at] ^= 0x40;
    ssize_t r = inner().Write(fd, bytes.data(), n);
    positions_[fd] = at + static_cast<uint64_t>(std::max<ssize_t>(r, 0));
    return r;
  }

 private:
  std::map<int, std::string> paths_;
  std::map<int, uint64_t> positions_;
  bool crashed_ = false;
};

class UndoTest : public testing::OpsTest {
 protected:
  std::string UndoFile() { return Image("undo\n.qun"); }  // a name messages show escaped

  // A recorder disk of 100,000 sectors as drive 0; the drive the operation changes as drive 1
  // (and the second drive of a join as drive 2), all holding data worth getting back.
  // The system area mirrored onto the target and the drives listed again, as the front-ends do
  // after each operation: the MPEG copy that follows finds its partition where it expects it.
  void MirrorFirst() {
    ui().AlwaysYes();
    ASSERT_EQ(MirrorSystemPartition(0, 1), 0);
    Refresh();
  }

  void Prepare(Op op) {
    ReplayTvDisk old_disk;
    old_disk.disk_sectors = 100000;
    old_disk.recordings = {{20000, 1000}};
    ASSERT_TRUE(MakeReplayTvDisk(Image("old.img"), old_disk));
    ReplayTvDisk target;
    target.disk_sectors = op == Op::kJoin ? 160086528 : 200000;
    target.layout_sectors = 100000;
    target.p1_length = 3000;
    target.rtv4000 = op == Op::kMirror;
    target.recordings = {{9000, 3000}};
    ASSERT_TRUE(MakeReplayTvDisk(Image("target.img"), target));
    std::vector<std::string> drives = {Image("old.img"), Image("target.img")};
    if (op == Op::kJoin) {
      ASSERT_TRUE(MakeBlankImage(Image("second.img"), 300000000));
      ASSERT_TRUE(WriteSectors(Image("second.img"), 0, ReadSectors(Image("old.img"), 0, 8)));
      drives.push_back(Image("second.img"));
    }
    if (op == Op::kRestore) {
      ASSERT_TRUE(MakeBlankImage(Image("backup.rtv"), 14242));
      ASSERT_TRUE(WriteSectors(Image("backup.rtv"), 0, ReadSectors(Image("old.img"), 0, 14242)));
    }
    UseDrives(drives);
    Snapshot();
  }

  int Run(Op op) {
    switch (op) {
      case Op::kMirror:
        ui().AnswerAll({true});
        return MirrorSystemPartition(0, 1);
      case Op::kPatchKeep:
        ui().AnswerAll({true, false});
        return PatchSingleDrive(1, 0);
      case Op::kPatchReset:
        ui().AnswerAll({true, true, false});
        return PatchSingleDrive(1, 0);
      case Op::kPatchReformat:
        ui().AnswerAll({true, true, true});
        return PatchSingleDrive(1, 0);
      case Op::kJoin:
        ui().AnswerAll({true, false});
        return AddSecondDrive(1, 2, 0);
      case Op::kRestore:
        ui().AnswerAll({true, true});  // overwrite; reset the MPEG partition
        ui().ChooseFileAnswer(Image("backup.rtv"));
        return RestoreTargetDrive(1, nullptr);
    }
    return -1;
  }

  // The operation with an undo file; its result.
  int RunRecorded(Op op) {
    UndoRecorder recorder(
        [this](std::string* path) {
          *path = UndoFile();
          return true;
        },
        kDefaultUndoLimitBytes);
    int result = Run(op);
    EXPECT_EQ(recorder.Finish(), 0);
    return result;
  }
};

struct CrashCase {
  Op op;
  int crash_at;       // the drive write that never happens (0: none)
  size_t torn_bytes;  // cut from the end of the undo file (a record appended partially)
  int undo_crash_at;  // the undo's own write that never happens, before a second undo
};

class UndoRoundTrip : public UndoTest, public ::testing::WithParamInterface<CrashCase> {};

std::string CrashCaseName(const ::testing::TestParamInfo<CrashCase>& row) {
  static const char* const kOps[] = {"Mirror", "PatchKeep",     "PatchReset",
                                     "PatchReformat", "Join", "Restore"};
  const CrashCase& c = row.param;
  return kOps[static_cast<int>(c.op)] + testing::NameFromNumber("CrashAt", c.crash_at) +
         testing::NameFromNumber("Torn", static_cast<long long>(c.torn_bytes)) +
         testing::NameFromNumber("UndoCrashAt", c.undo_crash_at);
}

TEST_P(UndoRoundTrip, GivesEveryImageBackByteForByte) {
  const CrashCase& c = GetParam();
  Prepare(c.op);
  {
    DeviceFault fault;
    fault.spared = UndoFile();
    fault.crash_at = c.crash_at;
    EXPECT_EQ(RunRecorded(c.op), c.crash_at == 0 ? 0 : -1) << ui().Transcript();
  }
  ASSERT_FALSE(Unchanged()) << "the operation wrote nothing";
  ui().AlwaysYes();  // each undo's confirmation
  if (c.torn_bytes != 0) {
    ASSERT_EQ(::truncate(UndoFile().c_str(), testing::FileSize(UndoFile()) - c.torn_bytes), 0);
  }
  if (c.undo_crash_at != 0) {
    DeviceFault fault;
    fault.spared = UndoFile();
    fault.crash_at = c.undo_crash_at;
    EXPECT_EQ(UndoFromFile(UndoFile(), false), -1);
  }
  EXPECT_EQ(UndoFromFile(UndoFile(), false), 0) << ui().Transcript();
  EXPECT_TRUE(Unchanged());
}

INSTANTIATE_TEST_SUITE_P(
    Operations, UndoRoundTrip,
    ::testing::Values(CrashCase{Op::kMirror, 0, 0, 0}, CrashCase{Op::kPatchKeep, 0, 0, 0},
                      CrashCase{Op::kPatchReset, 0, 0, 0}, CrashCase{Op::kPatchReformat, 0, 0, 0},
                      CrashCase{Op::kJoin, 0, 0, 0}, CrashCase{Op::kRestore, 0, 0, 0},
                      // Crashes: before a write whose record is durable, with the last record
                      // cut short, and in the middle of the undo itself.
                      CrashCase{Op::kMirror, 20, 0, 0}, CrashCase{Op::kMirror, 20, 21, 0},
                      CrashCase{Op::kPatchReformat, 3, 21, 0}, CrashCase{Op::kJoin, 2, 0, 0},
                      CrashCase{Op::kMirror, 0, 0, 20}, CrashCase{Op::kPatchReset, 0, 0, 2}),
    CrashCaseName);

// A record damaged in the middle of the file is not a crash's torn tail: nothing is put back.
TEST_F(UndoTest, ADamagedRecordBeforeOthersRefusesTheWholeUndo) {
  Prepare(Op::kMirror);
  ASSERT_EQ(RunRecorded(Op::kMirror), 0);
  uint64_t after = testing::ImageHash(Image("target.img"));
  std::vector<uint8_t> undo = ReadSectors(UndoFile(), 0, 2);
  undo[700] ^= 0x01;  // inside the first records, far from the end of the file
  ASSERT_TRUE(WriteSectors(UndoFile(), 0, undo));
  EXPECT_EQ(UndoFromFile(UndoFile(), false), -1);
  EXPECT_TRUE(Contains(LastBox().text, "undo\\x0a.qun cannot be used to undo: it is damaged"))
      << LastBox().text;
  EXPECT_EQ(testing::ImageHash(Image("target.img")), after);
}

struct RefusalCase {
  const char* name;
  uint64_t sector;  // the sector of target.img overwritten after the operation
  bool grow;        // target.img one sector longer: another disk
  const char* says;
};

class UndoRefusal : public UndoTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(UndoRefusal, LeavesTheDiskAloneUnlessForced) {
  const RefusalCase& c = GetParam();
  Prepare(Op::kMirror);
  ASSERT_EQ(RunRecorded(Op::kMirror), 0);
  std::vector<uint8_t> other(kBlockSize, 0x5a);
  ASSERT_TRUE(WriteSectors(Image("target.img"), c.grow ? 200000 : c.sector, other));
  uint64_t before = testing::ImageHash(Image("target.img"));
  EXPECT_EQ(UndoFromFile(UndoFile(), false), -1);
  EXPECT_TRUE(Contains(LastBox().text, c.says)) << LastBox().text;
  EXPECT_EQ(testing::ImageHash(Image("target.img")), before);

  ui().Answer(false);  // forced, it still asks first, naming the disk
  EXPECT_EQ(UndoFromFile(UndoFile(), true), -1);
  EXPECT_TRUE(Contains(QuestionTexts().back(), " blocks of disk " + Image("target.img")));
  EXPECT_EQ(testing::ImageHash(Image("target.img")), before);
  ui().Answer(true);
  EXPECT_EQ(UndoFromFile(UndoFile(), true), 0) << ui().Transcript();
  if (!c.grow) {  // forced, every saved sector is put back, the tampered one too
    EXPECT_TRUE(Unchanged());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Disks, UndoRefusal,
    ::testing::Values(RefusalCase{"Changed", 4321, false, "block 4321 holds neither"},
                      RefusalCase{"ChangedSector0", 0, false, "block 0 holds neither"},
                      RefusalCase{"Different", 0, true, "is not the disk the undo file was made"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(UndoTest, ABulkCopyBeyondTheLimitIsNamedAsNotUndoable) {
  Prepare(Op::kMirror);
  MirrorFirst();
  UndoRecorder recorder(
      [this](std::string* path) {
        *path = UndoFile();
        return true;
      },
      1 << 20);
  ui().AnswerAll({true});
  ASSERT_EQ(CopyMpegPartition(0, 1), 0) << ui().Transcript();
  ASSERT_EQ(recorder.Finish(), 0);
  EXPECT_TRUE(Contains(QuestionTexts().back(), "they CANNOT BE UNDONE"));
  EXPECT_LT(testing::FileSize(UndoFile()), 4096) << "nothing of the bulk copy was saved";
  ui().Answer(true);
  EXPECT_EQ(UndoFromFile(UndoFile(), false), 0);
  EXPECT_TRUE(Contains(LastBox().text, "blocks 4002 to 199999 of disk " + Image("target.img")));
}

// The window's undo file choice refuses a listed drive and a file that exists, and asks again.
TEST_F(UndoTest, TheChosenUndoFileIsNeverADriveOrAnExistingFile) {
  Prepare(Op::kMirror);
  ASSERT_TRUE(MakeBlankImage(Image("earlier.qun"), 1));
  for (const std::string& file : {Image("old.img"), Image("earlier.qun"), UndoFile()})
    ui().ChooseFileAnswer(file);
  SafetyNets nets;
  nets.undo_path = AskUndoFilePath();
  EXPECT_EQ(RunWithSafetyNets(nets, [this] { return Run(Op::kMirror); }), 0) << ui().Transcript();
  EXPECT_TRUE(ui().LoggedContaining(Image("old.img") + " is drive 0 or shares sectors with it"));
  EXPECT_TRUE(ui().LoggedContaining(Image("earlier.qun") + " exists already"));
  EXPECT_EQ(testing::FileSize(Image("earlier.qun")), 512);
  ui().Answer(true);
  EXPECT_EQ(UndoFromFile(UndoFile(), false), 0);
  EXPECT_TRUE(Unchanged());
}

struct VerifyCase {
  const char* name;
  uint64_t sector;  // corrupted on its way to the target
};

class VerifyAfterCopyTest : public UndoTest, public ::testing::WithParamInterface<VerifyCase> {};

TEST_P(VerifyAfterCopyTest, CatchesASilentlyCorruptedByte) {
  const std::string name = GetParam().name;
  Prepare(name == "Restore" ? Op::kRestore : Op::kMirror);
  if (name == "CopyMpeg")
    MirrorFirst();
  std::string target = name == "Backup" ? Image("new.rtv") : Image("target.img");
  SetVerifyAfterCopy(true);
  DeviceFault fault;
  // A backup writes a temporary file beside FILE and renames it only once verified.
  fault.corrupt = name == "Backup" ? Image(".quillmar-") : target;
  fault.sector = GetParam().sector;
  int result = -1;
  if (name == "Mirror" || name == "Restore") {
    result = Run(name == "Mirror" ? Op::kMirror : Op::kRestore);
  } else if (name == "CopyMpeg") {
    ui().AnswerAll({true});
    result = CopyMpegPartition(0, 1);
  } else {
    ui().ChooseFileAnswer(target);
    result = BackupSourceDrive(0, nullptr);
  }
  SetVerifyAfterCopy(false);
  EXPECT_EQ(result, -1) << ui().Transcript();
  std::string written = name == "Backup" ? Image(".quillmar-") : target;
  EXPECT_TRUE(Contains(LastBox().text, "*** ERROR: Verify failed: block " +
                                           std::to_string(GetParam().sector) + " of " + written))
      << LastBox().text;
  EXPECT_TRUE(Contains(LastBox().text, " differs from the source.\n           The copy is NOT complete."));
  if (name == "Backup") {
    EXPECT_FALSE(std::filesystem::exists(target)) << "an image that failed its check replaces nothing";
  }
}

INSTANTIATE_TEST_SUITE_P(Copies, VerifyAfterCopyTest,
                         ::testing::Values(VerifyCase{"Mirror", 0}, VerifyCase{"CopyMpeg", 99999},
                                           VerifyCase{"Backup", 14241}, VerifyCase{"Restore", 513}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(UndoTest, TheUpgradeRangesCompareIdenticalAfterTheCopies) {
  Prepare(Op::kMirror);
  MirrorFirst();
  ASSERT_EQ(CopyMpegPartition(0, 1), 0);
  std::vector<RangeComparison> ranges = CompareUpgradeRanges(0, 1, UpgradeRange::kAll);
  EXPECT_EQ(RenderRangeComparisons(ranges),
            "  system 14242 blocks from 0 to 0: identical\n"
            "  mpeg   95998 blocks from 4002 to 4002: identical\n"
            "2 ranges, 56442880 bytes compared, first difference: none\n");
  RequestCopyStop();  // Ctrl-C or the window's Cancel
  ranges = CompareUpgradeRanges(0, 1, UpgradeRange::kSystem);
  ClearCopyStop();
  EXPECT_EQ(RenderRangeComparisons(ranges),
            "  system 14242 blocks from 0 to 0: interrupted\n"
            "1 ranges, 0 bytes compared, first difference: none found, system interrupted\n");
  EXPECT_TRUE(ui().Logged("*** Verify interrupted at block 0"));
}

}  // namespace
}  // namespace quillmar
