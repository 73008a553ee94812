// Device faults during the operations, and the safety nets around them: the undo file that gives
// every disk back, also after a crash, and the verification that reads a copy back.
#include <sys/stat.h>

#include <gmock/gmock.h>

#include "disk/copy_stop.h"
#include "disk/forwarding_device_io.h"
#include "disk/sector_io.h"
#include "disk/undo_recorder.h"
#include "disk/unique_fd.h"
#include "ops/safety_nets.h"
#include "ops/undo_replay.h"
#include "tests/ops/ops_harness.h"
#include "tests/support/fake_device.h"

namespace quillmar::testing {
namespace {

using ::testing::HasSubstr;

enum Fault { kNoFault, kReadFails, kWriteFails, kFull, kFlushFails, kVanishes, kLies, kStops };

// Installed for its lifetime: the size of a file (the undo file) at its last flush, what a power
// loss would leave of it; with kLies every read after a flush returns its first byte changed, with
// kStops the first read after a flush (a verify's) requests a stop, as Cancel does.
class FlushWatch final : public ForwardingDeviceIo {
 public:
  FlushWatch(off_t& flushed, Fault fault)
      : ForwardingDeviceIo(Io()), flushed_(flushed), fault_(fault) {
    SetDeviceIo(this);
  }
  ~FlushWatch() override {
    SetDeviceIo(&inner());
    ClearCopyStop();
  }
  int Flush(int fd) override {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
      flushed_ = st.st_size;
    flushed_once_ = true;
    return inner().Flush(fd);
  }
  ssize_t Read(int fd, void* buffer, size_t n) override {
    if (flushed_once_ && fault_ == kStops)
      RequestCopyStop();
    ssize_t got = inner().Read(fd, buffer, n);
    if (flushed_once_ && fault_ == kLies && got > 0)
      *static_cast<uint8_t*>(buffer) ^= 1;
    return got;
  }

 private:
  off_t& flushed_;
  Fault fault_;
  bool flushed_once_ = false;
};

// Drive 0 an unpatched recorder disk, drive 1 one with another layout, drive 2 a blank disk;
// the operations run on fake devices that hold their bytes.
class SafetyTest : public OpsTest {
 protected:
  void SetUp() override {
    ReplayTvDisk src = Recorder(30000, false, 20000), dst = Recorder(40000, false, 30000);
    src.recordings = {{20000, 1000}};
    dst.p1_length = 3000;
    dst.recordings = {{9000, 3000}};
    ASSERT_TRUE(MakeReplayTvDisk(Image("src.img"), src));
    ASSERT_TRUE(MakeReplayTvDisk(Image("dst.img"), dst));
    ASSERT_TRUE(MakeBlankImage(Image("two.img"), 40000));
    // The source's root directory (cluster 3 of partition 2) differs from the one a reset writes.
    ASSERT_TRUE(
        WriteBytes(Image("src.img"), (4002 + 3 * 512) * 512 + 300, std::vector<uint8_t>{9}));
    WriteFile(Image("good.rtv"), ReadSectors(Image("src.img"), 0, 14242));
    WriteFile(Image("backup.rtv"), {'o', 'l', 'd'});  // an older backup
    UseDrives({"src.img", "dst.img", "two.img"});
    for (const std::string& path : paths_)
      original_.push_back(ReadBytes(path, 0, static_cast<size_t>(FileSize(path))));
  }

  // Runs body on fake drives holding now_ (drive `faulty` hurt at `sector`), which keeps theirs.
  int OnFakes(int faulty, Fault fault, uint64_t sector, const std::function<int()>& body) {
    FakeDeviceIo io;
    std::vector<FakeDevice*> devices;
    for (size_t i = 0; i < paths_.size(); ++i) {
      devices.push_back(&io.Add(paths_[i], 0));
      devices.back()->bytes() = now_[i];
    }
    FakeDevice& hurt = faulty < 0 ? io.Add(undo_, 0) : *devices[static_cast<size_t>(faulty)];
    const std::function<void()> faults[] = {[] {},
                                            [&] { hurt.FailReadAt(sector); },
                                            [&] { hurt.FailWriteAt(sector); },
                                            [&] { hurt.NoSpaceBeyond(sector * 512); },
                                            [&] { hurt.FailFlush(); },
                                            [&] { hurt.VanishAfter(30); }};
    if (fault < kLies)  // those two are FlushWatch's
      faults[fault]();
    int result = body();
    EXPECT_EQ(io.open_descriptors(), 0);
    for (size_t i = 0; i < paths_.size(); ++i)
      now_[i] = devices[i]->bytes();
    return result;
  }

  int Run(Op op, int a, int b, const std::string& answers, bool verify, bool undo,
          uint64_t undo_limit = kDefaultUndoLimitBytes) {
    Answer(answers);
    if (op == kBackup || op == kRestore)
      ui().ChooseFileAnswer(Image(op == kBackup ? "backup.rtv" : "good.rtv"));
    if (undo)
      ui().ChooseFileAnswer(undo_);  // asked for before the first write
    SafetyNets nets{.verify = verify,
                    .undo_path = undo ? AskUndoFilePath() : nullptr,
                    .undo_limit = undo_limit};
    return RunWithSafetyNets(nets, [&] { return RunOp(op, a, b); });
  }

  int Undo(Fault fault, uint64_t sector, bool force) {
    return OnFakes(1, fault, sector, [&] { return UndoFromFile(undo_, force); });
  }

  std::string undo_ = Image("undo\n.qun");  // a name messages show escaped
  std::vector<std::vector<uint8_t>> original_, now_;
};

// A failed operation says so, claims nothing, closes every descriptor and changes no file of the
// folder; the undo gives every disk back, also with the last record cut short and after a first
// undo that crashed (no undo for a backup, or a verify, which reads what the undo file saves).
TEST_F(SafetyTest, DeviceFaultsFailTheOperationAndTheUndoGivesEveryDiskBack) {
  struct Row {
    const char* name;
    Op op;
    const char* answers;
    int a, b, faulty;  // faulty -1: the undo file
    Fault fault;
    uint64_t sector;
    const char* says = "";
    off_t torn = 0;  // bytes of the undo file not flushed that a power loss takes; -1: all of them
    uint64_t undo_crash = 0;  // the sector of drive 1 whose write fails in a first undo
    bool verify = false;
    uint64_t undo_limit = kDefaultUndoLimitBytes;
  };
  const Row rows[] = {
      {"PatchKeep", kPatch, "YN", 1, -1, 1, kNoFault, 0},
      {"PatchReformat", kPatch, "YYY", 1, -1, 1, kNoFault, 0},
      {"Join", kJoin, "YN", 1, 2, 1, kNoFault, 0},
      {"Restore", kRestore, "YY", 1, -1, 1, kNoFault, 0},
      {"Backup", kBackup, "", 0, -1, 0, kNoFault, 0},
      {"MirrorReadFails", kMirror, "Y", 0, 1, 0, kReadFails, 700, "Failed to read block 512"},
      {"MirrorWriteFails", kMirror, "Y", 0, 1, 1, kWriteFails, 700,
       "The copy did not finish: ", 21},
      {"MirrorDeviceFull", kMirror, "Y", 0, 1, 1, kFull, 700},
      {"MirrorFlushFails", kMirror, "Y", 0, 1, 1, kFlushFails, 0},
      {"MirrorDeviceVanishes", kMirror, "Y", 0, 1, 1, kVanishes, 0},
      {"MirrorCannotBeReadBack", kMirror, "Y", 0, 1, 1, kReadFails, 700, "Verify could not read", 0,
       0, true},
      {"MirrorReadsBackOtherBytes", kMirror, "Y", 0, 1, 1, kLies, 0, "Verify failed", 0, 0, true},
      {"MirrorVerifyStopped", kMirror, "Y", 0, 1, 1, kStops, 0, "but its verify was stopped", 0, 0,
       true},
      {"BackupReadFails", kBackup, "", 0, -1, 0, kReadFails, 700, "Failed to read block 512"},
      {"RestoreWriteFails", kRestore, "Y", 1, -1, 1, kWriteFails, 3},
      {"PatchVolumeSequenceWriteFails", kPatch, "YN", 1, -1, 1, kWriteFails, 1,
       "Done: the partition table.\n           Not done: the volume sequence block cleared"},
      {"PatchResetFails", kPatch, "YYN", 1, -1, 1, kWriteFails, 3002 + 3 * 512,
       "system.\n           Not done: the MPEG partition reset."},
      {"PatchReformatCrashes", kPatch, "YYY", 1, -1, 1, kWriteFails, 3002 + 512, "", 21},
      {"PatchFlushFails", kPatch, "YN", 1, -1, 1, kFlushFails, 0, "made durable (flush failed)"},
      {"PatchUndoFileFull", kPatch, "YN", 1, -1, -1, kFull, 2, "Could not write the undo file"},
      {"PatchResetUndoCrashes", kPatch, "YYN", 1, -1, 1, kNoFault, 0, "", 0, 1},
      {"PatchResetPowerLoss", kPatch, "YYN", 1, -1, 1, kNoFault, 0, "", -1},
      {"JoinPowerLoss", kJoin, "YN", 1, 2, 1, kNoFault, 0, "", -1},
      // The copy's records reached the disk, the reset's two (44 bytes each) and the end not.
      {"RestoreResetPowerLoss", kRestore, "YY", 1, -1, 1, kNoFault, 0, "", 2 * 44 + 16},
      {"JoinDrive1WriteFails", kJoin, "YN", 1, 2, 1, kWriteFails, 1,
       "Done: drive 2's partition table cleared.\n           Not done: drive 1's volume"},
      {"JoinDrive2WriteFails", kJoin, "YN", 1, 2, 2, kWriteFails, 0},
      {"JoinPatchFails", kJoin, "YN", 1, 2, 1, kWriteFails, 0,
       "drive 2's volume sequence block.\n           Not done: drive 1's partition table"},
      {"MirrorPastTheLimit", kMirror, "Y", 0, 1, 1, kNoFault, 0, "", 0, 0, false, 1 << 20},
      // The 13 MB copied fit the limit: saved, though the target reaches 18 MB past their start.
      {"CopyMpegWithinTheLimit", kMpeg, "YY", 0, 2, 2, kNoFault, 0, "", 0, 0, false, 16 << 20},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::map<std::string, uint64_t> folder = Folder();
    NewFrontEnd();
    now_ = original_;
    bool undo = !row.verify && row.op != kBackup;
    off_t flushed = 0;
    int result = OnFakes(row.faulty, row.fault, row.sector, [&] {
      FlushWatch watch(flushed, row.fault);
      return Run(row.op, row.a, row.b, row.answers, row.verify, undo, row.undo_limit);
    });
    EXPECT_EQ(result, row.fault == kNoFault ? 0 : -1) << ui().Transcript();
    EXPECT_THAT(ui().Transcript(), HasSubstr(row.says));
    EXPECT_THAT(ui().Transcript(), Not(HasSubstr("write the end of the undo file")));
    EXPECT_TRUE(row.fault == kNoFault || !ClaimedDone());
    EXPECT_EQ(ui().progress_shown(), ui().progress_hidden());
    EXPECT_TRUE(row.op != kMirror || now_[0] == original_[0]) << "the source was written";
    EXPECT_TRUE(row.fault == kNoFault || Folder() == folder) << "a file of the folder was changed";
    if (row.op == kBackup && row.fault == kNoFault) {
      EXPECT_EQ(ImageHash(Image("backup.rtv")), ImageHash(Image("good.rtv"))) << "the system area";
    }
    if (!undo || row.faulty < 0)  // that undo file is the fake's
      continue;
    off_t kept = row.torn < 0 ? flushed : std::max(flushed, FileSize(undo_) - row.torn);
    ASSERT_EQ(::truncate(undo_.c_str(), kept), 0);
    ui().AlwaysYes();           // each undo's confirmation
    if (row.undo_crash != 0) {  // a first undo that fails halfway says so
      EXPECT_EQ(Undo(kWriteFails, row.undo_crash, false), -1);
      EXPECT_THAT(LastBox(), HasSubstr("The undo is not complete: disk "));
    }
    EXPECT_EQ(Undo(kNoFault, 0, false), 0) << ui().Transcript();
    EXPECT_TRUE(now_ == original_) << "a disk is not as it was";
    std::filesystem::remove(undo_);
  }
}

// A copy past the undo limit is recorded lost, not saved: the undo file stays small, and the
// undo puts back the rest, naming what it cannot.
TEST_F(SafetyTest, ACopyPastTheUndoLimitIsRecordedLostNotSaved) {
  NewFrontEnd();
  now_ = original_;
  EXPECT_EQ(OnFakes(0, kNoFault, 0, [&] { return Run(kMpeg, 0, 2, "YY", false, true, 1 << 20); }),
            0);
  EXPECT_LT(FileSize(undo_), 1 << 20);
  ui().AlwaysYes();
  EXPECT_EQ(Undo(kNoFault, 0, false), 0) << ui().Transcript();
  EXPECT_THAT(LastBox(), HasSubstr("except what was overwritten without a saved copy"));
}

// An undo file does not go back onto a disk that was changed since or is another disk, nor from
// a record damaged before others; forced, it still asks, naming the disk, and then does.
TEST_F(SafetyTest, UndoRefusesAChangedDiskUnlessForced) {
  const std::tuple<const char*, uint64_t, const char*> rows[] = {
      {"ChangedSector", 4321, "block 4321 holds neither"},
      {"AnotherDisk", 40000, "is not the disk the undo file was made"},
      {"DamagedRecord", 0, "undo\\x0a.qun cannot be used to undo: it is damaged"}};
  for (auto [name, sector, says] : rows) {
    SCOPED_TRACE(name);
    NewFrontEnd();
    now_ = original_;
    EXPECT_EQ(OnFakes(0, kNoFault, 0, [&] { return Run(kMirror, 0, 1, "Y", false, true); }), 0);
    bool damaged = std::string(name) == "DamagedRecord";
    if (damaged) {
      std::vector<uint8_t> flipped{static_cast<uint8_t>(ReadBytes(undo_, 700, 1)[0] ^ 1)};
      ASSERT_TRUE(WriteBytes(undo_, 700, flipped));
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
      EXPECT_THAT(LastAsked(), HasSubstr(" blocks of disk " + Image("dst.img")));
      EXPECT_TRUE(now_[1] == tampered);
      EXPECT_EQ(Undo(kNoFault, 0, true), 0);
      now_[1].resize(original_[1].size());  // every saved sector is back, the tampered one too
      EXPECT_TRUE(now_ == original_) << "a disk is not as it was";
    }
    std::filesystem::remove(undo_);
  }
  // A last record cut short is undone all the same, and the undo says what that can mean.
  NewFrontEnd();
  now_ = original_;
  EXPECT_EQ(OnFakes(0, kNoFault, 0, [&] { return Run(kMirror, 0, 1, "Y", false, true); }), 0);
  ASSERT_EQ(::truncate(undo_.c_str(), FileSize(undo_) - 9), 0);
  ui().AlwaysYes();
  EXPECT_EQ(Undo(kNoFault, 0, false), 0);
  EXPECT_THAT(LastBox(), HasSubstr("ends in a record cut short: after a crash that is all"));
  // Nor from a FIFO (without waiting for a writer) or an empty file (a run stopped early).
  ASSERT_EQ(::mkfifo(Image("fifo.qun").c_str(), 0644), 0);
  WriteFile(Image("empty.qun"), {});
  EXPECT_EQ(UndoFromFile(Image("fifo.qun"), false), -1);
  EXPECT_EQ(UndoFromFile(Image("empty.qun"), false), -1);
  EXPECT_THAT(LastBox(), HasSubstr("it is empty (the operation that made it stopped"));
  // Nor from one whose only record, cut short, claims a gigabyte.
  std::vector<uint8_t> header = UndoHeader();
  header.insert(header.end(), {2, 0, 0, 0, 0, 0, 0, 0x40, 'x'});
  WriteFile(Image("cut.qun"), header);
  EXPECT_EQ(UndoFromFile(Image("cut.qun"), false), -1);
  EXPECT_THAT(LastBox(), HasSubstr("it names no disk (the operation that made it stopped"));
  // Nor from a crafted one naming a FIFO as its disk, or a block past 2^55 (its byte offset would
  // wrap around to another block).
  ASSERT_EQ(::mkfifo(Image("disk.fifo").c_str(), 0644), 0);
  for (auto [disk, first, says] :
       {std::tuple{Image("disk.fifo"), uint64_t{1}, "neither a disk nor an image file"},
        std::tuple{Image("dst.img"), (uint64_t{1} << 55) + 1, "a record in it is malformed"}}) {
    std::vector<uint8_t> crafted = UndoHeader();
    AppendDriveRecord(crafted, {0, disk, "", 40000, 0});
    AppendSavedRecord(crafted, 0, first, Sector{});
    AppendFinishedRecord(crafted);
    WriteFile(Image("crafted.qun"), crafted);
    EXPECT_EQ(UndoFromFile(Image("crafted.qun"), false), -1);
    EXPECT_THAT(LastBox(), HasSubstr(says));
  }
}

// A disk swapped while the last question waited (here: for one of another size, its first
// sectors the same) is not written, nor is an undo file made for it: the first write finds the
// drive changed, and says which.
TEST_F(SafetyTest, ADriveChangedWhileAQuestionWaitedIsNotWritten) {
  NewFrontEnd();
  ui().AnswerWith([this] { return ::truncate(Image("dst.img").c_str(), off_t{50000} * 512) == 0; });
  ui().ChooseFileAnswer(undo_);
  int changed = -1;
  SafetyNets nets{.undo_path = AskUndoFilePath()};
  EXPECT_EQ(RunWithSafetyNets(
                nets, [this] { return RunOp(kMirror, 0, 1); }, &changed),
            -1);
  EXPECT_EQ(changed, 1);
  EXPECT_THAT(LastBox(), HasSubstr("Drive 1 (" + Image("dst.img") + ") changed since the drives"));
  EXPECT_EQ(ReadBytes(Image("dst.img"), 0, original_[1].size()), original_[1]);
  EXPECT_FALSE(std::filesystem::exists(undo_));
}

// Contents saved ahead are flushed before their write, also when announced after the first record.
TEST_F(SafetyTest, ContentsSavedAheadAreFlushedBeforeTheWrite) {
  NewFrontEnd();
  FakeDeviceIo io;
  io.Add("b", 4096);
  off_t flushed = 0;
  FlushWatch watch(flushed, kNoFault);
  UndoRecorder recorder(AskUndoFilePath(), kDefaultUndoLimitBytes);
  ui().ChooseFileAnswer(undo_);
  UniqueFd fd = UniqueFd::Open("b", OpenMode::kReadWrite);
  for (uint64_t at : {512, 2048}) {
    ExpectUndoableWrite("b", at, 512);
    ASSERT_TRUE(WriteAt(fd.get(), at, Sector{1}));
    EXPECT_EQ(flushed, FileSize(undo_)) << at;
  }
}

}  // namespace
}  // namespace quillmar::testing
