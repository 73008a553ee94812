// Device faults during the operations, and the safety nets around them: the undo file that gives
// every disk back, also after a crash, and the verification that reads a copy back.
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "disk/copy_stop.h"
#include "ops/safety_nets.h"
#include "ops/undo_replay.h"
#include "ops/verify.h"
#include "tests/ops/ops_harness.h"
#include "tests/support/fake_device.h"

namespace quillmar::testing {
namespace {

using ::testing::HasSubstr;

enum Fault { kNoFault, kReadFails, kWriteFails, kFull, kFlushFails, kVanishes };

// Drive 0 an unpatched recorder disk, drive 1 one with another layout, drive 2 a blank disk;
// the operations run on fake devices that hold their bytes.
class SafetyTest : public OpsTest {
 protected:
  void SetUp() override {
    OpsTest::SetUp();
    ReplayTvDisk src = Recorder(30000, false, 20000), dst = Recorder(40000, false, 30000);
    src.recordings = {{20000, 1000}};
    dst.p1_length = 3000;
    dst.recordings = {{9000, 3000}};
    ASSERT_TRUE(MakeReplayTvDisk(Image("src.img"), src));
    ASSERT_TRUE(MakeReplayTvDisk(Image("dst.img"), dst));
    ASSERT_TRUE(MakeBlankImage(Image("two.img"), 40000));
    WriteFile(Image("good.rtv"), ReadSectors(Image("src.img"), 0, 14242));
    WriteFile(Image("backup.rtv"), {'o', 'l', 'd'});
    UseDrives({"src.img", "dst.img", "two.img"});
    for (const std::string& path : paths_)
      original_.push_back(ReadBytes(path, 0, static_cast<size_t>(FileSize(path))));
  }

  // Runs body with the drives served from now_, drive `faulty` hurt at `sector`; keeps their
  // bytes in now_ afterwards.
  void OnFakes(int faulty, Fault fault, uint64_t sector, const std::function<void()>& body) {
    FakeDeviceIo io;
    std::vector<FakeDevice*> devices;
    for (size_t i = 0; i < paths_.size(); ++i) {
      devices.push_back(&io.Add(paths_[i], 0));
      devices.back()->bytes() = now_[i];
    }
    FakeDevice& hurt = *devices[static_cast<size_t>(faulty)];
    if (fault == kReadFails)
      hurt.FailReadAt(sector);
    if (fault == kWriteFails)
      hurt.FailWriteAt(sector);
    if (fault == kFull)
      hurt.NoSpaceBeyond(sector * 512);
    if (fault == kFlushFails)
      hurt.FailFlush();
    if (fault == kVanishes)
      hurt.VanishAfter(3);
    body();
    EXPECT_EQ(io.open_descriptors(), 0);
    for (size_t i = 0; i < paths_.size(); ++i)
      now_[i] = devices[i]->bytes();
  }

  int Run(Op op, int a, int b, const std::string& answers, bool verify, bool undo) {
    Answer(answers);
    if (op == kBackup || op == kRestore)
      ui().ChooseFileAnswer(Image(op == kBackup ? "backup.rtv" : "good.rtv"));
    SafetyNets nets;
    nets.verify = verify;
    if (undo) {
      nets.undo_path = [this](std::string* path) {
        *path = undo_;
        return true;
      };
    }
    return RunWithSafetyNets(nets, [&] { return RunOp(op, a, b); });
  }

  int Undo(Fault fault, uint64_t sector, bool force) {
    int result = 0;
    OnFakes(1, fault, sector, [&] { result = UndoFromFile(undo_, force); });
    return result;
  }

  void ExpectGivenBack() {
    for (size_t i = 0; i < paths_.size(); ++i)
      EXPECT_TRUE(now_[i] == original_[i]) << paths_[i] << " is not as it was";
  }

  std::string undo_ = Image("undo\n.qun");  // a name messages show escaped
  std::vector<std::vector<uint8_t>> original_, now_;
};

// A failed read, write or flush, a full or vanished device: the operation fails, says so, claims
// nothing, closes every descriptor, and leaves the folder's files as they were.
TEST_F(SafetyTest, DeviceFaultsFailTheOperation) {
  struct Row {
    const char* name;
    Op op;
    int a, b;
    const char* answers;
    int faulty;
    Fault fault;
    uint64_t sector;
    const char* says;
    bool verify = false;
  };
  const char* const kVolumeSequence =
      "Done: the partition table.\n           Not done: the volume sequence block cleared";
  const Row rows[] = {
      {"MirrorReadFails", kMirror, 0, 1, "Y", 0, kReadFails, 700, "Failed to read block 512"},
      {"MirrorWriteFails", kMirror, 0, 1, "Y", 1, kWriteFails, 700, "Failed to write block 512"},
      {"MirrorDeviceFull", kMirror, 0, 1, "Y", 1, kFull, 700, ""},
      {"MirrorFlushFails", kMirror, 0, 1, "Y", 1, kFlushFails, 0, ""},
      {"MirrorDeviceVanishes", kMirror, 0, 1, "Y", 1, kVanishes, 0, ""},
      {"MirrorCannotBeReadBack", kMirror, 0, 1, "Y", 1, kReadFails, 700, "Verify could not read",
       true},
      {"BackupReadFails", kBackup, 0, -1, "", 0, kReadFails, 700, ""},
      {"RestoreWriteFails", kRestore, 1, -1, "Y", 1, kWriteFails, 3, ""},
      {"PatchVolumeSequenceWriteFails", kPatch, 0, -1, "YN", 0, kWriteFails, 1, kVolumeSequence},
      {"PatchResetFails", kPatch, 0, -1, "YYN", 0, kWriteFails, 4002 + 3 * 512,
       "system.\n           Not done: the MPEG partition reset."},
      {"PatchFlushFails", kPatch, 0, -1, "YN", 0, kFlushFails, 0, "writes made durable (flush"},
      {"JoinWriteFails", kJoin, 0, 2, "YN", 2, kWriteFails, 0, ""},
  };
  std::map<std::string, uint64_t> folder = Folder();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    NewFrontEnd();
    now_ = original_;
    OnFakes(row.faulty, row.fault, row.sector,
            [&] { EXPECT_EQ(Run(row.op, row.a, row.b, row.answers, row.verify, false), -1); });
    EXPECT_FALSE(ClaimedDone());
    EXPECT_THAT(ui().Transcript(), HasSubstr(row.says));
    EXPECT_EQ(ui().progress_shown(), ui().progress_hidden());
    EXPECT_EQ(Folder(), folder);
    EXPECT_TRUE(row.op != kMirror || now_[0] == original_[0]) << "the source was written";
  }
}

// Every operation that changes a disk is undone byte for byte, also after a crash (a write that
// fails) in it or in a first undo, and with the last record cut short.
TEST_F(SafetyTest, UndoGivesEveryDiskBack) {
  struct Row {
    const char* name;
    Op op;
    int a, b;
    const char* answers;
    uint64_t crash;       // the sector of drive 1 whose write fails (0: none)
    off_t torn;           // bytes cut from the end of the undo file
    uint64_t undo_crash;  // the same for a first undo
  };
  const Row rows[] = {
      {"Mirror", kMirror, 0, 1, "Y", 0, 0, 0},
      {"PatchKeep", kPatch, 1, -1, "YN", 0, 0, 0},
      {"PatchReset", kPatch, 1, -1, "YYN", 0, 0, 0},
      {"PatchReformat", kPatch, 1, -1, "YYY", 0, 0, 0},
      {"Join", kJoin, 1, 2, "YN", 0, 0, 0},
      {"Restore", kRestore, 1, -1, "YY", 0, 0, 0},
      {"MirrorCrash", kMirror, 0, 1, "Y", 700, 0, 0},
      {"MirrorCrashWithATornRecord", kMirror, 0, 1, "Y", 700, 21, 0},
      {"PatchReformatCrash", kPatch, 1, -1, "YYY", 3002 + 512, 21, 0},
      {"JoinCrash", kJoin, 1, 2, "YN", 1, 0, 0},
      {"MirrorUndoCrash", kMirror, 0, 1, "Y", 0, 0, 700},
      {"PatchResetUndoCrash", kPatch, 1, -1, "YYN", 0, 0, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    NewFrontEnd();
    now_ = original_;
    OnFakes(1, row.crash == 0 ? kNoFault : kWriteFails, row.crash, [&] {
      EXPECT_EQ(Run(row.op, row.a, row.b, row.answers, false, true), row.crash == 0 ? 0 : -1);
    });
    EXPECT_NE(now_, original_) << "the operation wrote nothing";
    ASSERT_EQ(::truncate(undo_.c_str(), FileSize(undo_) - row.torn), 0);
    ui().AlwaysYes();  // each undo's confirmation
    if (row.undo_crash != 0) {
      EXPECT_EQ(Undo(kWriteFails, row.undo_crash, false), -1);
    }
    EXPECT_EQ(Undo(kNoFault, 0, false), 0) << ui().Transcript();
    ExpectGivenBack();
    std::filesystem::remove(undo_);
  }
}

// An undo file does not go back onto a disk that was changed since or is another disk, nor from
// a record damaged before others; forced, it still asks, naming the disk, and then does.
TEST_F(SafetyTest, UndoRefusesAChangedDiskUnlessForced) {
  const std::tuple<const char*, uint64_t, const char*> rows[] = {
      {"ChangedSector", 4321, "block 4321 holds neither"},
      {"ChangedSector0", 0, "block 0 holds neither"},
      {"AnotherDisk", 40000, "is not the disk the undo file was made"},
      {"DamagedRecord", 0, "undo\\x0a.qun cannot be used to undo: it is damaged"}};
  for (auto [name, sector, says] : rows) {
    SCOPED_TRACE(name);
    NewFrontEnd();
    now_ = original_;
    OnFakes(0, kNoFault, 0, [&] { EXPECT_EQ(Run(kMirror, 0, 1, "Y", false, true), 0); });
    bool damaged = std::string(name) == "DamagedRecord";
    if (damaged) {
      std::vector<uint8_t> record = ReadBytes(undo_, 700, 1);
      record[0] ^= 1;
      ASSERT_TRUE(WriteBytes(undo_, 700, record));
    } else {
      now_[1].resize(std::max<size_t>(now_[1].size(), (sector + 1) * 512));
      now_[1][sector * 512] ^= 0x5A;
    }
    std::vector<uint8_t> tampered = now_[1];
    EXPECT_EQ(Undo(kNoFault, 0, false), -1);
    EXPECT_THAT(LastBox(), HasSubstr(says));
    EXPECT_TRUE(now_[1] == tampered);
    if (!damaged) {
      ui().AnswerAll({false, true});
      EXPECT_EQ(Undo(kNoFault, 0, true), -1);
      EXPECT_THAT(LastQuestion(), HasSubstr(" blocks of disk " + Image("dst.img")));
      EXPECT_TRUE(now_[1] == tampered);
      EXPECT_EQ(Undo(kNoFault, 0, true), 0);
      now_[1].resize(original_[1].size());  // every saved sector is back, the tampered one too
      ExpectGivenBack();
    }
    std::filesystem::remove(undo_);
  }
}

// The verify command compares the ranges the upgrade copied: identical, then the first block
// that differs; a stop request interrupts it.
TEST_F(SafetyTest, UpgradeRangesCompareUntilTheFirstDifference) {
  Answer("YY");
  ASSERT_EQ(RunOp(kMirror, 0, 1), 0);
  Refresh();
  ASSERT_EQ(RunOp(kMpeg, 0, 1), 0);
  std::vector<RangeComparison> ranges;
  EXPECT_EQ(VerifyUpgradeRanges(0, 1, UpgradeRange::kAll, &ranges), 0);
  ASSERT_EQ(ranges.size(), 2u);
  ASSERT_TRUE(WriteBytes(Image("dst.img"), 20500 * 512 + 9, std::vector<uint8_t>{0x77}));
  EXPECT_EQ(VerifyUpgradeRanges(0, 1, UpgradeRange::kAll, &ranges), -1);
  EXPECT_EQ(ranges[1].source_block + ranges[1].result.first_difference, 20500u);
  RequestCopyStop();
  ranges = CompareUpgradeRanges(0, 1, UpgradeRange::kSystem);
  ClearCopyStop();
  EXPECT_TRUE(ranges[0].result.interrupted);
}

}  // namespace
}  // namespace quillmar::testing
