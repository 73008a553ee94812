// The disk layer as tables over fake devices: block and sector I/O at their edges, the copy
// engine's faults by class and position, the drive probe; then copies between image files, the
// names that reach one disk and the default drive map.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <list>

#include "disk/block_io.h"
#include "disk/copy_engine.h"
#include "disk/copy_stop.h"
#include "disk/drive_identity.h"
#include "disk/forwarding_device_io.h"
#include "disk/sector_io.h"
#include "tests/support/copy_fixture.h"
#include "tests/support/disk_aliases.h"
#include "tests/support/probe_fake_platform.h"

namespace quillmar {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::CopyTest;
using testing::FakeDevice;
using testing::FakeDrive;
using testing::Pattern;
using Buffer = std::vector<uint8_t>;
using Paths = std::vector<std::string>;

// Every operation works at byte 512 of a fake disk of 2048 bytes, with a buffer of 1024.
using Op = int (*)(UniqueFd& fd, Buffer& buffer);
int At512(UniqueFd& fd) {
  SeekExact(fd.get(), 512);
  return fd.get();
}
const Op kRead = [](UniqueFd& fd, Buffer& b) { return ReadBlocks(At512(fd), b.data(), 1024, 0); };
const Op kWrite = [](UniqueFd& fd, Buffer& b) { return WriteBlocks(At512(fd), b.data(), 1024); };
const Op kPlaced = [](UniqueFd& fd, Buffer& b) { return int(WritePlaced(fd.get(), 512, b)); };
const Op kSeek = [](UniqueFd& fd, Buffer&) { return SeekExact(fd.get(), 1024); };
const Op kFlush = [](UniqueFd& fd, Buffer&) { return FlushAndClose(fd) * 10 + fd.valid(); };
const Op kWriteBehind = [](UniqueFd& fd, Buffer&) {
  return StartWriteBehind(fd.get(), 0, 512) * 10 + AwaitWriteBehind(fd.get(), 0, 512);
};

struct IoRow {
  const char* name;
  void (*setup)(FakeDevice&);
  Op op;
  int result;
  size_t moved;           // bytes read into the buffer (the rest zeroed), or written to the disk
  size_t writes;          // write calls the device saw
  const char* line = "";  // every message logged; shown in a box too when it starts "***"
};

class BlockIo : public ::testing::TestWithParam<IoRow> {};

TEST_P(BlockIo, MovesOnlyWhatItReportsAndSaysWhy) {
  const IoRow& row = GetParam();
  testing::TempDir dir;
  testing::ScriptedFrontEnd ui(true, dir.File("quillmar.log"));
  testing::FakeDeviceIo io;
  FakeDevice& disk = io.Add("disk", 0);
  disk.bytes() = Pattern(2048, 1);
  row.setup(disk);
  const Buffer before = disk.bytes(), data = Pattern(1024, 9);
  Buffer buffer = data, expected_disk = before, expected_buffer = data;
  UniqueFd fd = UniqueFd::Open("disk", OpenMode::kReadWrite);

  EXPECT_EQ(row.op(fd, buffer), row.result);

  if (row.op == kRead) {
    expected_buffer.assign(before.begin() + 512, before.begin() + 512 + row.moved);
    expected_buffer.resize(data.size(), 0);
  } else {
    std::copy_n(data.begin(), row.moved, expected_disk.begin() + 512);
  }
  EXPECT_EQ(disk.bytes(), expected_disk);
  EXPECT_EQ(buffer, expected_buffer);
  EXPECT_EQ(disk.writes().size(), row.writes);
  EXPECT_EQ(ui.lines().empty(), *row.line == '\0') << ui.Transcript();
  for (const std::string& line : ui.lines())
    EXPECT_EQ(line, row.line);
  EXPECT_EQ(ui.boxes().empty(), !std::string(row.line).starts_with("***"));
  for (const testing::Box& box : ui.boxes())
    EXPECT_EQ(box.text + box.caption, row.line + std::string("*** ERROR ***"));
}

constexpr const char* kWriteError = "*** ERROR writing block";
void BadSector2(FakeDevice& d) {
  d.FailReadAt(2);
  d.FailWriteAt(2);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BlockIo,
    ::testing::Values(
        IoRow{"ReadEndsMidSector", [](FakeDevice& d) { d.bytes().resize(1000); }, kRead, 488, 488,
              0, "*** ERROR: Unexpected EOF"},
        IoRow{"ReadError", BadSector2, kRead, -1, 512, 0, "*** ERROR reading block"},
        IoRow{"ReadInPieces", [](FakeDevice& d) { d.ShortTransfers(100); }, kRead, 1024, 1024, 0},
        IoRow{"WriteInPieces", [](FakeDevice& d) { d.ShortTransfers(511); }, kWrite, 1024, 1024, 3},
        IoRow{"WriteError", BadSector2, kWrite, -1, 512, 2, kWriteError},
        IoRow{"WriteOnAFullDevice", [](FakeDevice& d) { d.NoSpaceBeyond(1024); }, kWrite, -1, 512,
              2, kWriteError},
        // A device that takes nothing is an error at once, never a loop.
        IoRow{"WriteWithoutProgress",
              [](FakeDevice& d) {
                d.NoSpaceBeyond(1024, true);
                d.VanishAfter(20);
              },
              kWrite, -1, 512, 2, kWriteError},
        IoRow{"SeekFails", [](FakeDevice& d) { d.FailSeeks(); }, kSeek, 0, 0, 0, "File seek error"},
        IoRow{"SeekLandsBefore", [](FakeDevice& d) { d.SeeksLandOffBy(-512); }, kSeek, 0, 0, 0,
              "File seek error: wanted 1024 got 512"},
        IoRow{"PlacedWriteNotPositioned", [](FakeDevice& d) { d.SeeksLandOffBy(512); }, kPlaced,
              int(PlacedWrite::kNotPositioned), 0, 0, "File seek error: wanted 512 got 1024"},
        IoRow{"PlacedWriteFails", BadSector2, kPlaced, int(PlacedWrite::kWriteFailed), 512, 2,
              kWriteError},
        IoRow{"FlushFailsAndCloses", [](FakeDevice& d) { d.FailFlush(); }, kFlush, -10, 0, 0,
              kWriteError},
        // Write-behind where the file has none is skipped (1); any other failure is an error.
        IoRow{"NoWriteBehindHere", [](FakeDevice& d) { d.FailWriteback(EINVAL); }, kWriteBehind, 11,
              0, 0},
        IoRow{"WriteBehindFails", [](FakeDevice& d) { d.FailWriteback(EIO); }, kWriteBehind, -11, 0,
              0, kWriteError}),
    testing::ParamName());

// Copies run from block 3 of the source to block 5 of the target, 10 spare blocks after both;
// 1100 blocks are chunks of 512, 512 and 76. A long copy is two windows of write-behind more
// than are in flight, and half a window: it waits three times, then flushes.
constexpr uint64_t kFrom = 3, kTo = 5, kSpare = 10, kWindow = kWriteBehindWindowBytes / 512;
constexpr uint32_t kCount = 1100;
constexpr auto kLong = static_cast<uint32_t>((2 * kWriteBehindWindowsInFlight + 5) * kWindow / 2);
// The first wait comes when the windows in flight and one step more are written.
constexpr uint64_t kFirstWait = kWriteBehindWindowsInFlight * kWindow + kWriteBehindStepBytes / 512;

std::string Read(uint64_t block) {
  return "ERROR: Failed to read block " + std::to_string(block) + " from source - copy aborted";
}
std::string Write(uint64_t block) {
  return "ERROR: Failed to write block " + std::to_string(block) + " to target - copy aborted";
}

// The fault on the source s or target t; at is a sector of the copy, or a count of calls.
using Setup = void (*)(FakeDevice& s, FakeDevice& t, int at);
const Setup kNone = [](auto&, auto&, int) {};
const Setup kUnreadable = [](auto& s, auto&, int at) { s.FailReadAt(kFrom + at); };
const Setup kSourceEnds = [](auto& s, auto&, int at) { s.bytes().resize(Bytes(kFrom + at)); };
const Setup kBadSector = [](auto&, auto& t, int at) { t.FailWriteAt(kTo + at); };
const Setup kNoSpace = [](auto&, auto& t, int at) { t.NoSpaceBeyond(Bytes(kTo + at)); };
const Setup kLateError = [](auto&, auto& t, int at) {  // as the page cache reports it
  t.DeferWriteErrors();
  t.FailWriteAt(kTo + at);
};
const Setup kFlushFails = [](auto&, auto& t, int) { t.FailFlush(); };
const Setup kNoWriteBehind = [](auto&, auto& t, int) { t.FailWriteback(ESPIPE); };
const Setup kBusy = [](auto&, auto& t, int) { t.RefuseWriters(); };
const Setup kSourceGone = [](auto& s, auto&, int at) { s.VanishAfter(at, ENODEV); };
const Setup kTargetGone = [](auto&, auto& t, int at) { t.VanishAfter(at); };
const Setup kSourceSeek = [](auto& s, auto&, int at) { s.SeeksLandOffBy(at); };
const Setup kSeeksFail = [](auto& s, auto& t, int at) { (at ? t : s).FailSeeks(); };

struct CopyRow {
  std::string name;
  Setup setup;
  int at;
  uint32_t count;    // 0: to the end of the source
  std::string line;  // the last log line: "Copying ..." when the copy succeeds
  int64_t held;      // the target holds this many blocks of the copy
  int stop_after_writes = -1;
  uint64_t to = kTo;
};

std::vector<CopyRow> CopyRows() {
  const std::string no_open = "*** ERROR: Could not open device ";
  std::vector<CopyRow> rows = {
      {"Whole", kNone, 0, kCount, "Copying 1100 blocks (0MB)", kCount},
      {"ToTheEndOfTheSource", kNone, 0, 0, "Copying 1110 blocks (0MB)", kCount + kSpare},
      {"TargetWithoutWriteBehind", kNoWriteBehind, 0, 4096, "Copying 4096 blocks (2MB)", 4096},
      {"LateErrorOfAShortCopy", kLateError, 1099, kCount, Write(0), kCount},
      {"LateErrorBeforeTheFirstWait", kLateError, 0, kLong, Write(0), kFirstWait},
      {"LateErrorAfterTheLastWait", kLateError, kLong - 1, kLong, Write(3 * kWindow), kLong},
      {"FlushFails", kFlushFails, 0, kCount, Write(0), kCount},
      {"BusyTarget", kBusy, 0, kCount, no_open + "target-drive", 0},
      {"SourceGoneBeforeOpen", kSourceGone, 0, kCount, no_open + "source-drive", 0},
      {"SourceGoneAtChunk512", kSourceGone, 3, kCount, Read(512), 512},
      {"TargetGoneBeforeSeek", kTargetGone, 1, kCount, "File seek error", 0},
      {"TargetGoneAtChunk1024", kTargetGone, 4, kCount, Write(1024), 1024},
      {"TargetGoneBeforeFlush", kTargetGone, 5, kCount, Write(0), kCount},
      {"SourceSeekFails", kSeeksFail, 0, kCount, "File seek error", 0},
      {"SourceLengthFails", kSeeksFail, 0, 0, "File seek error", 0},
      {"TargetSeekFails", kSeeksFail, 1, kCount, "File seek error", 0},
      {"SourceSeekLandsBefore", kSourceSeek, -1, kCount, "File seek error: wanted 1536 got 1535",
       0},
      {"BlockBeyondAnyOffset", kNone, 0, 1, "File seek error", 0, -1, UINT64_MAX / 256},
      {"StopBeforeTheFirstChunk", kNone, 0, kCount, "*** Copy interrupted at block 0", 0, 0},
      {"StopAfterAChunk", kNone, 0, kCount, "*** Copy interrupted at block 512", 512, 1}};
  // A source fault: the chunk holding it is not written, everything before it is. A target
  // refusal: the sectors before it are written, it and everything after it are not.
  for (int at : {0, 511, 512, 1099}) {
    const auto chunk = static_cast<int>(at / kCopyChunkBlocks * kCopyChunkBlocks);
    const std::string where = "At" + std::to_string(at);
    rows.push_back({"Unreadable" + where, kUnreadable, at, kCount, Read(chunk), chunk});
    rows.push_back({"SourceEnds" + where, kSourceEnds, at, kCount, Read(chunk), chunk});
    rows.push_back({"BadSector" + where, kBadSector, at, kCount, Write(chunk), at});
    rows.push_back({"NoSpace" + where, kNoSpace, at, kCount, Write(chunk), at});
  }
  return rows;
}

// Requests a stop of the copy after a number of writes.
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

class CopyFaults : public testing::CopyTest, public ::testing::WithParamInterface<CopyRow> {};

TEST_P(CopyFaults, StopWhereTheFaultIsAndWriteNothingElse) {
  const CopyRow& row = GetParam();
  const uint64_t blocks = row.count == 0 ? kCount : row.count;
  MakeDrives(kFrom + blocks + kSpare, kTo + blocks + kSpare);
  row.setup(*source_, *target_, row.at);
  StopAfterWrites stop(row.stop_after_writes);

  const int result = CopyBlocks(kSource, kTarget, kFrom, row.to, row.count);

  const bool done = row.line.starts_with("Copying");
  const bool write_error = row.line.starts_with("ERROR: Failed to write");
  EXPECT_EQ(result, done ? 0 : -1);
  EXPECT_EQ(ui_.lines().back(), row.line) << ui_.Transcript();
  ExpectTargetHolds(kFrom, kTo, row.held);
  ExpectCleanedUp();
  EXPECT_TRUE(row.held != 0 || write_error || target_->writes().empty());
  // Reads are quiet; a write error or an open failure is shown once.
  const bool shown = write_error || row.line.starts_with("*** ERROR: Could not open");
  ASSERT_EQ(ui_.boxes().size(), shown ? 1u : 0u) << ui_.Transcript();
  EXPECT_TRUE(!write_error || ui_.boxes()[0].text == "*** ERROR writing block");
  // Flushed when all was written or the copy stopped; never twice to clear an error.
  EXPECT_LE(done || row.stop_after_writes >= 0, target_->flushes());
  EXPECT_LE(target_->flushes(), 1);
  std::vector<int> bar{0};  // the whole percent done at each chunk start, once it has grown
  for (int64_t d = kCopyChunkBlocks; done && d < row.held; d += kCopyChunkBlocks)
    if (d * 100 / row.held > bar.back())
      bar.push_back(static_cast<int>(d * 100 / row.held));
  EXPECT_EQ(done ? ui_.progress() : bar, bar);
}

INSTANTIATE_TEST_SUITE_P(Rows, CopyFaults, ::testing::ValuesIn(CopyRows()), testing::ParamName());

// Between image files: count 0 copies whole blocks to the end of the source; an existing target
// keeps everything outside the range and is never truncated; a missing one is created. Block
// offsets and the source's length are 64-bit (5 GiB, in a sparse file).
TEST_F(CopyTest, BetweenImageFiles) {
  const uint64_t far = (uint64_t{5} << 30) / 512;
  const struct {
    uint64_t source_bytes, target_bytes, from, to;
    uint32_t count;
    uint64_t copied;
  } rows[] = {{5'243'000, 0, 0, 1, 0, 10240},
              {Bytes(20), Bytes(50), 2, 10, 15, 15},
              {Bytes(far + 8) + 7, 0, far, 2, 0, 8}};
  const std::string source = dir_.File("source.img"), target = dir_.File("target.img");
  for (const auto& r : rows) {
    SCOPED_TRACE(r.from);
    const Buffer data = Pattern(Bytes(r.copied), 3);
    Buffer expected = Pattern(r.target_bytes, 7);
    UniqueFd fd = UniqueFd::Open(source, OpenMode::kWriteOnlyCreate);
    ASSERT_EQ(::ftruncate(fd.get(), static_cast<off_t>(r.source_bytes)), 0);
    ASSERT_EQ(::pwrite(fd.get(), data.data(), data.size(), static_cast<off_t>(Bytes(r.from))),
              static_cast<ssize_t>(data.size()));
    ::unlink(target.c_str());
    if (r.target_bytes != 0)
      testing::WriteFile(target, expected);
    ASSERT_EQ(CopyBlocks(source, target, r.from, r.to, r.count), 0);
    EXPECT_EQ(ui_.lines().back(), "Copying " + std::to_string(r.copied) + " blocks (" +
                                      std::to_string(r.copied / 2048) + "MB)");
    expected.resize(std::max<uint64_t>(expected.size(), Bytes(r.to + r.copied)));
    std::copy(data.begin(), data.end(), expected.begin() + static_cast<ptrdiff_t>(Bytes(r.to)));
    EXPECT_EQ(testing::ReadFile(target), expected);
  }
}

// A device folder whose drive has gone: every open there fails as for a missing path.
class GoneDriveFolder : public ForwardingDeviceIo {
 public:
  GoneDriveFolder() : ForwardingDeviceIo(Io()) { SetDeviceIo(this); }
  ~GoneDriveFolder() override { SetDeviceIo(&inner()); }
  int Open(const std::string& path, OpenMode mode) override {
    if (!path.starts_with("/dev/"))
      return ForwardingDeviceIo::Open(path, mode);
    modes.push_back(mode);
    errno = ENOENT;
    return -1;
  }
  std::vector<OpenMode> modes;
};

// Targets never made or written: a drive unplugged since the list (not made a file under /dev),
// the target of a source that does not open, an image file that another writer holds open
// (refused until it is closed).
TEST_F(CopyTest, TargetsThatAreNotCreatedOrWritten) {
  MakeDrives(10, 0);
  {
    GoneDriveFolder folder;
    EXPECT_EQ(CopyBlocks(kSource, "/dev/sdq", 0, 0, 10), -1);
    EXPECT_EQ(folder.modes, std::vector<OpenMode>{OpenMode::kWriteOnly});
  }
  const std::string target = dir_.File("target.img");
  EXPECT_EQ(CopyBlocks(dir_.File("missing.img"), target, 0, 0, 10), -1);
  EXPECT_NE(::access(target.c_str(), F_OK), 0);
  testing::WriteFile(target, Pattern(Bytes(10), 9));
  UniqueFd writer = UniqueFd::Open(target, OpenMode::kReadWrite);
  EXPECT_EQ(CopyBlocks(kSource, target, 0, 0, 10), -1);
  EXPECT_EQ(testing::ReadFile(target), Pattern(Bytes(10), 9));
  writer.Close();
  EXPECT_EQ(CopyBlocks(kSource, target, 0, 0, 10), 0);
  EXPECT_EQ(testing::ReadFile(target), Pattern(Bytes(10), 1));
  EXPECT_EQ(io_.open_descriptors(), 0);
}

// The probe. A drive answers IDENTIFY with a model and a count; one whose count is missing,
// reaches 137 GB or counts other than 512-byte sectors is measured: its length, else a search.
FakeDrive Ata(uint32_t count, std::optional<uint64_t> length = {}, uint64_t readable = 0) {
  FakeDrive drive;
  drive.model_field = "ST3300622A" + std::string(30, ' ');
  drive.identify_sectors = count;
  drive.length_bytes = length;
  drive.readable_sectors = readable;
  return drive;
}
FakeDrive With(FakeDrive drive, void (*change)(FakeDrive&)) {
  change(drive);
  return drive;
}
constexpr uint32_t kMeasure = 268435455;  // the 28-bit maximum
constexpr uint64_t k300Gb = 300000000000u;
const char* const kOverflow = "There appears to be a seek overflow problem on this drive";
const char* const kForced = "This is greater than 1024GB so I am forcing size to 1024GB!)";

struct ProbeRow {
  const char* name;
  FakeDrive drive;
  uint32_t detected;
  const char* note;  // a line, or the start of one, that the probe logs
  uint32_t forced = 0;
  uint32_t limit = kNoDriveSizeLimit;
  const char* model = "ST3300622A";
};

class ProbeTable : public testing::ProbeTestBase, public ::testing::WithParamInterface<ProbeRow> {};

TEST_P(ProbeTable, FindsTheModelAndTheSize) {
  const ProbeRow& row = GetParam();
  g_maxDriveSectors = row.limit;
  ProbeOne(row.drive);
  EXPECT_TRUE(ui_.LoggedContaining(row.note)) << ui_.Transcript();
  EXPECT_EQ(DriveTable[0].model, row.model);
  EXPECT_EQ(g_detectedSectors[0], row.detected);
  EXPECT_EQ(g_forcedSectors[0], row.forced);
  EXPECT_TRUE(ui_.LoggedContaining("fake0 (" + std::string(row.model) + ") : " +
                                   (row.detected == 0
                                        ? "Failed to get drive size"
                                        : "Detected size = " + std::to_string(row.detected))));
  std::vector<uint8_t> asked;  // IDENTIFY DEVICE, or IDENTIFY PACKET DEVICE for ATAPI
  if (row.drive.pass_through)
    asked = {row.drive.packet_device ? uint8_t{0xA1} : uint8_t{0xEC}};
  EXPECT_EQ(platform_.identify_commands, asked);
  EXPECT_LE(platform_.sector_reads, 99);
  EXPECT_EQ(platform_.open_handles, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProbeTable,
    ::testing::Values(
        ProbeRow{"CountBelow137Gb", Ata(267386879, k300Gb), 267386879, "fake0 (ST3300622A)"},
        ProbeRow{"CountOf137Gb", Ata(267386880, k300Gb), 585937500, "Used WinXP drive size"},
        ProbeRow{"NoCount", Ata(0, k300Gb), 0, "fake0 (ST3300622A) : Failed"},
        ProbeRow{"PacketDevice", With(Ata(0), [](FakeDrive& d) { d.packet_device = true; }), 0,
                 "fake0 : ATAPI device"},
        ProbeRow{"IdentifyFails", With(Ata(9), [](FakeDrive& d) { d.identify_ok = false; }), 0,
                 "fake0 : Identify Command Failed", 0, 0, ""},
        ProbeRow{"ModelTrimmed",
                 With(Ata(9), [](FakeDrive& d) { d.model_field = "Maxtor 6Y080L0 \t\r\n\v\f"; }), 9,
                 "Detected", 0, kNoDriveSizeLimit, "Maxtor 6Y080L0"},
        // Without pass-through: named from elsewhere (at most 40 characters) and measured.
        ProbeRow{"NoPassThrough",
                 With(Ata(0, 1048576 + 511), [](FakeDrive& d) { d.pass_through = false; }), 2048,
                 "fake0 : DFP_GET_VERSION failed (not a hard drive?)", 0, kNoDriveSizeLimit,
                 "Unknown"},
        ProbeRow{"NoPassThroughSearched",
                 With(Ata(0, {}, 1025),
                      [](FakeDrive& d) {
                        d.pass_through = false;
                        d.fallback_model = "a-very-long-image-file-name-of-fifty-characters.img";
                      }),
                 1025, "Using binary search drive size detection", 0, kNoDriveSizeLimit,
                 "a-very-long-image-file-name-of-fifty-cha"},
        ProbeRow{"SearchLargestBelieved", Ata(kMeasure, {}, 2000000001), 2000000001, kForced,
                 kNoDriveSizeLimit},
        // Beyond that, or no end at all: a seek overflow, taken as the 137 GB size.
        ProbeRow{"SearchOverflow", Ata(kMeasure, {}, 2000000002), 267386880, kOverflow},
        ProbeRow{"ReadableForever",
                 With(Ata(kMeasure), [](FakeDrive& d) { d.readable_forever = true; }), 267386880,
                 kOverflow},
        // Beyond 32 bits of sectors: the largest size, not wrapped.
        ProbeRow{"LengthBeyond2TiB", Ata(kMeasure, (uint64_t{1} << 41) + 5 * 512), 0xFFFFFFFF,
                 kForced, kNoDriveSizeLimit},
        ProbeRow{"OneSectorAboveTheLimit", Ata(kMeasure, 1000001 * 512), 1000001,
                 "This is greater than 0.512GB so I am forcing size to 0.512GB!)", 1000000,
                 1000000},
        ProbeRow{"AtTheLimit", Ata(kMeasure, uint64_t{267386880} * 512), 267386880,
                 "Used WinXP drive size", 0, 267386880},
        ProbeRow{"Sectors4096",
                 With(Ata(200, 200 * 4096), [](FakeDrive& d) { d.logical_sector_size = 4096; }),
                 1600, "Logical sector size is 4096 bytes; the drive can be read, but nothing"}),
    testing::ParamName());

// Drives that do not open are left empty; refusals ask for root once, an unreadable image file
// is named with its problem instead.
using DriveProbe = testing::ProbeTestBase;

TEST_F(DriveProbe, DrivesThatDoNotOpen) {
  const std::string image = dir_.File("locked\n.img");
  std::ofstream(image) << "";
  FakeDrive absent, refused, forbidden;
  absent.open_errno = ENOENT;
  refused.open_errno = EACCES;
  forbidden.open_errno = EPERM;
  Probe({{"d0", absent}, {"d1", refused}, {"d2", Ata(9)}, {"d3", forbidden}, {image, refused}});
  EXPECT_EQ(
      ui_.lines(),
      (Paths{"d2 (ST3300622A) : Detected size = 9 sectors",
             dir_.File("locked\\x0a.img") + " : Could not open image file: Permission denied",
             "Some drives could not be opened: permission denied. Raw drive access needs root "
             "(run the program with sudo), or name image files as drives with --drive."}));
  for (int i : {0, 1, 3})
    EXPECT_EQ(DriveTable[i].model + std::to_string(g_detectedSectors[i]), "0");
  EXPECT_EQ(platform_.open_handles, 0);
}

// The ways two names reach one disk (with loop devices: root only).
class DiskAliases : public ::testing::TestWithParam<testing::DiskAlias> {};

TEST_P(DiskAliases, AreOneDisk) {
  if (GetParam().needs_root && ::geteuid() != 0)
    GTEST_SKIP() << "attaching a loop device needs root";
  testing::TempDir dir;
  const std::string image = dir.File("disk.img");
  Buffer mbr(512);  // one partition, from 1 MiB on
  mbr[450] = 0x83;
  PutLe32(mbr, 454, 2048);
  PutLe32(mbr, 458, 100000);
  PutBe16(mbr, 510, 0x55AA);
  testing::WriteFile(image, mbr);
  fs::resize_file(image, 200000 * 512);
  std::list<testing::LoopDevice> loops;
  auto [a, b] = GetParam().names(image, &loops);
  if (a.empty() || b.empty())
    GTEST_SKIP() << "could not make the second name here";
  const auto expected = GetParam().overlapping ? DiskRelation::kOverlapping : DiskRelation::kSame;
  EXPECT_EQ(DiskRelationOf(a, b), expected);
  EXPECT_EQ(DiskRelationOf(b, a), expected);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DiskAliases, ::testing::ValuesIn(testing::DiskAliases()),
                         testing::ParamName());

// Two files of one file system are two disks; ranges of one disk are the same, overlap or not.
TEST(DriveIdentity, OtherFilesAndSeparateRangesAreSeparate) {
  testing::TempDir dir;
  testing::WriteFile(dir.File("a.img"), Buffer(1024));
  testing::WriteFile(dir.File("b.img"), Buffer(1024));
  EXPECT_EQ(DiskRelationOf(dir.File("a.img"), dir.File("b.img")), DiskRelation::kSeparate);
  EXPECT_EQ(DiskRelationOf(dir.File("a.img"), dir.File("none")), DiskRelation::kSeparate);
  auto disk = [](uint64_t first, uint64_t end) {
    return DriveExtent{
        .known = true, .block_device = true, .device = 7, .first = first, .end = end};
  };
  EXPECT_EQ(RelationOf(disk(0, 100), disk(0, 100)), DiskRelation::kSame);
  EXPECT_EQ(RelationOf(disk(0, 100), disk(99, 200)), DiskRelation::kOverlapping);
  EXPECT_EQ(RelationOf(disk(50, UINT64_MAX), disk(0, 100)), DiskRelation::kOverlapping);
  EXPECT_EQ(RelationOf(disk(0, 100), disk(100, 200)), DiskRelation::kSeparate);
}

// A block device of a fake sysfs tree as the kernel lays it out: under devices/, linked from
// block/; sde has the SCSI type of an optical drive.
void AddDevice(const std::string& root, const std::string& name, const std::string& dev,
               const std::string& size = "1000", const std::string& parent = "pci0/ata1") {
  const fs::path folder = fs::path(root) / "devices" / parent / "block" / name;
  fs::create_directories(folder / "device");
  std::ofstream(folder / "dev") << dev << "\n";
  std::ofstream(folder / "size") << size << "\n";
  std::ofstream(folder / "device" / "type") << (name == "sde" ? "5\n" : "0\n");
  fs::create_directories(fs::path(root) / "block");
  fs::create_symlink(fs::path("..") / "devices" / parent / "block" / name,
                     fs::path(root) / "block" / name);
}

// Whole disks in device number order, at most 16: not virtual, optical, empty or unreadable
// ones. Paths given instead are the drives, at most 16 too.
TEST(DriveMap, DiscoversWholeDisksOrTakesGivenPaths) {
  testing::TempDir sysfs;
  const std::string& root = sysfs.path();
  AddDevice(root, "sdb", "8:16");
  AddDevice(root, "sdf", "8:4");
  AddDevice(root, "nvme0n1", "259:0", "500118192", "pci0/nvme0");
  AddDevice(root, "cciss!c0d0", "104:0");
  AddDevice(root, "sdd", "8:48", "0");  // a card reader without a card
  AddDevice(root, "baddev", "8:50x");
  AddDevice(root, "sr0", "11:0");
  AddDevice(root, "sde", "8:64");
  AddDevice(root, "loop0", "7:0", "2048", "virtual");
  fs::create_symlink("../devices/gone", fs::path(root) / "block" / "dangling");
  EXPECT_EQ(DiscoverDisks(root),
            (Paths{"/dev/sdf", "/dev/sdb", "/dev/cciss/c0d0", "/dev/nvme0n1"}));
  for (int i = 1; i <= 20; ++i)
    AddDevice(root, "disk" + std::to_string(i), "9:" + std::to_string(i));
  EXPECT_EQ(DiscoverDisks(root).back(), "/dev/disk14");
  EXPECT_TRUE(DiscoverDisks(root + "/none").empty());
  Paths given;
  for (int i = 0; i < 18; ++i)
    given.push_back("image" + std::to_string(i) + ".img");
  SetDrivePaths(given);
  EXPECT_EQ(DrivePath(0) + DrivePath(15) + DrivePath(16) + DrivePath(-1), "image0.imgimage15.img");
  SetDrivePaths({});
}

}  // namespace
}  // namespace quillmar
