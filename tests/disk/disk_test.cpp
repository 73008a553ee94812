// The disk layer as tables over fake devices: block I/O, the copy engine's faults, the probe.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <filesystem>
#include <list>
#include <tuple>

#include "disk/block_io.h"
#include "disk/copy_engine.h"
#include "disk/copy_stop.h"
#include "disk/drive_identity.h"
#include "disk/file_replacement.h"
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
using Buffer = std::vector<uint8_t>;

// Each operation works at byte 512 of a fake disk of 2048 bytes, with a buffer of 1024.
using Op = int (*)(UniqueFd& fd, Buffer& buffer);
int At512(UniqueFd& fd) {
  SeekExact(fd.get(), 512);
  return fd.get();
}
const Op kRead = [](UniqueFd& f, Buffer& b) { return ReadBlocks(At512(f), b.data(), 1024, false); };
const Op kWrite = [](UniqueFd& f, Buffer& b) { return WriteBlocks(At512(f), b.data(), 1024); };
const Op kPlaced = [](UniqueFd& f, Buffer& b) { return int(WritePlaced(f.get(), 512, b)); };
const Op kSeek = [](UniqueFd& f, Buffer&) { return SeekExact(f.get(), 1024); };

struct IoRow {
  const char* name;
  void (*setup)(FakeDevice&);
  Op op;
  int result;
  size_t moved;           // bytes read into the buffer (the rest zeroed), or written to the disk
  size_t writes;          // write calls the device saw
  const char* line = "";  // every message logged; shown in a box too when it starts "***"
};

class BlockIo : public CopyTest, public ::testing::WithParamInterface<IoRow> {};

TEST_P(BlockIo, MovesOnlyWhatItReportsAndSaysWhy) {
  const IoRow& row = GetParam();
  FakeDevice& disk = io_.Add("disk", 0);
  disk.bytes() = testing::Pattern(2048, 1);
  row.setup(disk);
  const Buffer before = disk.bytes(), data = testing::Pattern(1024, 9);
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
  EXPECT_EQ(ui_.lines(), std::vector<std::string>(*row.line ? 1 : 0, row.line));
  EXPECT_EQ(ui_.boxes().empty(), !std::string(row.line).starts_with("***"));
  for (const testing::Box& box : ui_.boxes())
    EXPECT_EQ(box.text + box.caption, row.line + std::string("*** ERROR ***"));
}

constexpr const char* kWriteError = "*** ERROR writing block";
const IoRow kIoRows[] = {
    {"ReadEndsMidSector", [](auto& d) { d.bytes().resize(1000); }, kRead, 488, 488, 0,
     "*** ERROR: Unexpected EOF"},
    {"ReadError", [](auto& d) { d.FailReadAt(2); }, kRead, -1, 512, 0, "*** ERROR reading block"},
    {"ReadInPieces", [](auto& d) { d.ShortTransfers(100); }, kRead, 1024, 1024, 0},
    {"WriteInPieces", [](auto& d) { d.ShortTransfers(511); }, kWrite, 1024, 1024, 3},
    {"WriteOnAFullDevice", [](auto& d) { d.NoSpaceBeyond(1024); }, kWrite, -1, 512, 2,
     "*** ERROR writing block (No space left on device)"},
    // A device that takes nothing is an error at once, never a loop.
    {"WriteWithoutProgress",
     [](auto& d) {
       d.NoSpaceBeyond(1024, true);
       d.VanishAfter(20);
     },
     kWrite, -1, 512, 2, kWriteError},
    {"SeekLandsBefore", [](auto& d) { d.SeeksLandOffBy(-512); }, kSeek, 0, 0, 0,
     "File seek error: wanted 1024 got 512"},
    {"PlacedWriteNotPositioned", [](auto& d) { d.SeeksLandOffBy(512); }, kPlaced,
     int(PlacedWrite::kNotPositioned), 0, 0, "File seek error: wanted 512 got 1024"}};
INSTANTIATE_TEST_SUITE_P(Rows, BlockIo, ::testing::ValuesIn(kIoRows), testing::ParamName());

// Copies run from block 3 of the source to block 5 of the target, 10 spare blocks after both;
// 1100 blocks are chunks of 512, 512 and 76. A long copy waits for write-behind three times.
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
const Setup kSeeksFail = [](auto& s, auto&, int) { s.FailSeeks(); };

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
  std::vector<CopyRow> rows = {
      {"Whole", kNone, 0, kCount, "Copying 1100 blocks (0MB)", kCount},
      {"ToTheEndOfTheSource", kNone, 0, 0, "Copying 1110 blocks (0MB)", kCount + kSpare},
      {"TargetWithoutWriteBehind", kNoWriteBehind, 0, 4096, "Copying 4096 blocks (2MB)", 4096},
      {"LateErrorOfAShortCopy", kLateError, 1099, kCount, Write(0), kCount},
      {"LateErrorBeforeTheFirstWait", kLateError, 0, kLong, Write(0), kFirstWait},
      {"LateErrorAfterTheLastWait", kLateError, kLong - 1, kLong, Write(3 * kWindow), kLong},
      {"FlushFails", kFlushFails, 0, kCount, Write(0), kCount},
      {"BusyTarget", kBusy, 0, kCount,
       "*** ERROR: Could not open device target-drive (busy: mounted, or written by another "
       "program)",
       0},
      {"SourceGoneAtChunk512", kSourceGone, 3, kCount, Read(512), 512},
      {"TargetGoneBeforeSeek", kTargetGone, 1, kCount, "File seek error", 0},
      {"TargetGoneAtChunk1024", kTargetGone, 4, kCount, Write(1024), 1024},
      {"TargetGoneBeforeFlush", kTargetGone, 5, kCount, Write(0), kCount},
      {"SourceSeekFails", kSeeksFail, 0, kCount, "File seek error", 0},
      {"SourceLengthFails", kSeeksFail, 0, 0, "File seek error", 0},
      {"SeekLandsBefore", kSourceSeek, -1, kCount, "File seek error: wanted 1536 got 1535", 0},
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

// Passes every call on, but requests a stop of the copy after a number of writes, and fails
// every open under /dev/ as for a drive that has gone, recording the modes asked for.
struct Hooks : ForwardingDeviceIo {
  explicit Hooks(int stop_after_writes) : ForwardingDeviceIo(Io()), left_(stop_after_writes) {
    SetDeviceIo(this);
    if (left_ == 0)
      RequestCopyStop();
  }
  ~Hooks() override {
    SetDeviceIo(&inner());
    ClearCopyStop();
  }
  ssize_t Write(int fd, const void* buffer, size_t n) override {
    if (--left_ == 0)
      RequestCopyStop();
    return ForwardingDeviceIo::Write(fd, buffer, n);
  }
  int Open(const std::string& path, OpenMode mode) override {
    if (!path.starts_with("/dev/"))
      return ForwardingDeviceIo::Open(path, mode);
    modes.push_back(mode);
    errno = ENOENT;
    return -1;
  }
  std::vector<OpenMode> modes;
  int left_;
};

class CopyFaults : public CopyTest, public ::testing::WithParamInterface<CopyRow> {};

TEST_P(CopyFaults, StopWhereTheFaultIsAndWriteNothingElse) {
  const CopyRow& row = GetParam();
  const uint64_t blocks = row.count == 0 ? kCount : row.count;
  MakeDrives(kFrom + blocks + kSpare, kTo + blocks + kSpare);
  row.setup(*source_, *target_, row.at);
  Hooks hooks(row.stop_after_writes);

  const int result = CopyBlocks(kSource, kTarget, kFrom, row.to, row.count);

  const bool done = row.line.starts_with("Copying");
  const bool write_error = row.line.starts_with("ERROR: Failed to write");
  EXPECT_EQ(result, done ? 0 : row.held > 0 ? kCopyPartlyWritten : -1);
  EXPECT_EQ(ui_.lines().back(), row.line) << ui_.Transcript();
  ExpectTargetHolds(kFrom, kTo, row.held);
  ExpectCleanedUp();
  EXPECT_TRUE(row.held != 0 || write_error || target_->writes().empty());
  // Reads are quiet; a write error or an open failure is shown once.
  const bool shown = write_error || row.line.starts_with("*** ERROR: Could not open");
  ASSERT_EQ(ui_.boxes().size(), shown ? 1u : 0u) << ui_.Transcript();
  EXPECT_TRUE(!write_error || ui_.boxes()[0].text.starts_with(kWriteError));
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

// Between image files: count 0 copies whole blocks to the end of the source; the target keeps
// everything outside the range, grows as needed and is never truncated. Block offsets and the
// source's length are 64-bit (5 GiB, in a sparse file). No target is made for a missing source,
// nor when it is missing itself (an image removed, a drive unplugged since the list). A file
// opened as new (the undo file) is never one that exists.
TEST_F(CopyTest, BetweenImageFilesAndNoTargetMadeInVain) {
  const uint64_t far = (uint64_t{5} << 30) / 512;
  const std::tuple<uint64_t, uint64_t, uint64_t, uint64_t, uint32_t, uint64_t> rows[] = {
      {5'243'000, 0, 0, 1, 0, 10240},
      {Bytes(20), Bytes(50), 2, 10, 15, 15},
      {Bytes(far + 8) + 7, 0, far, 2, 0, 8}};
  const std::string source = dir_.File("source.img"), target = dir_.File("target.img");
  for (auto [source_bytes, target_bytes, from, to, count, copied] : rows) {
    SCOPED_TRACE(from);
    const Buffer data = testing::Pattern(Bytes(copied), 3);
    Buffer expected = testing::Pattern(target_bytes, 7);
    UniqueFd fd = UniqueFd::Open(source, OpenMode::kWriteOnlyCreate);
    ASSERT_EQ(::ftruncate(fd.get(), static_cast<off_t>(source_bytes)), 0);
    ASSERT_TRUE(WriteAt(fd.get(), Bytes(from), data));
    testing::WriteFile(target, expected);
    ASSERT_EQ(CopyBlocks(source, target, from, to, count), 0);
    EXPECT_EQ(ui_.lines().back(), "Copying " + std::to_string(copied) + " blocks (" +
                                      std::to_string(copied / 2048) + "MB)");
    expected.resize(std::max<uint64_t>(expected.size(), Bytes(to + copied)));
    std::copy(data.begin(), data.end(), expected.begin() + static_cast<ptrdiff_t>(Bytes(to)));
    EXPECT_EQ(testing::ReadFile(target), expected);
  }
  EXPECT_FALSE(UniqueFd::Open(target, OpenMode::kCreateNew).valid());
  ::unlink(target.c_str());
  EXPECT_EQ(CopyBlocks(dir_.File("missing.img"), target, 0, 0, 10), -1);
  EXPECT_EQ(CopyBlocks(source, target, 0, 0, 10), -1);
  EXPECT_NE(::access(target.c_str(), F_OK), 0);
  MakeDrives(10, 0);
  Hooks gone_drive(-1);
  EXPECT_EQ(CopyBlocks(kSource, "/dev/sdq", 0, 0, 10), -1);
  EXPECT_EQ(gone_drive.modes, std::vector<OpenMode>{OpenMode::kWriteOnly});
  EXPECT_EQ(io_.open_descriptors(), 0);
}

// A long copy leaves in the page cache only the target windows still on their way, never the
// whole range: a partition larger than the machine's memory would push everything else out.
TEST_F(CopyTest, LongCopyLeavesMostOfTheTargetOutOfThePageCache) {
  struct statfs folder {};
  if (::statfs(dir_.path().c_str(), &folder) != 0 || folder.f_type == 0x01021994)
    GTEST_SKIP() << "the temporary folder keeps every page in memory (tmpfs)";
  SetDeviceIo(nullptr);  // the kernel's own calls, page-cache hints included
  const uint64_t bytes = 6 * kWriteBehindWindowBytes;
  const std::string source = dir_.File("source.img"), target = dir_.File("target.img");
  testing::WriteFile(source, {});
  testing::WriteFile(target, {});
  fs::resize_file(source, bytes);
  ASSERT_EQ(CopyBlocks(source, target, 0, 0, 0), 0);
  UniqueFd fd = UniqueFd::Open(target, OpenMode::kReadOnly);
  void* map = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd.get(), 0);
  std::vector<unsigned char> pages(bytes / 4096);
  ASSERT_EQ(::mincore(map, bytes, pages.data()), 0);
  ::munmap(map, bytes);
  const auto cached = static_cast<uint64_t>(std::count_if(
      pages.begin(), pages.end(), [](unsigned char page) { return (page & 1) != 0; }));
  EXPECT_LE(cached * 4096, (kWriteBehindWindowsInFlight + 1) * kWriteBehindWindowBytes);
}

// The probe. A drive answers IDENTIFY with a model and a count; one whose count is missing,
// reaches 137 GB or counts other than 512-byte sectors is measured: its length, else a search.
FakeDrive Ata(uint32_t count, std::optional<uint64_t> length = {}, uint64_t readable = 0,
              void (*change)(FakeDrive&) = nullptr) {
  FakeDrive drive;
  drive.model_field = "ST3300622A" + std::string(30, ' ');
  drive.identify_sectors = count;
  drive.length_bytes = length;
  drive.readable_sectors = readable;
  if (change != nullptr)
    change(drive);
  return drive;
}
constexpr uint32_t kMeasure = 268435455;  // the 28-bit maximum
const char* const kSt = "ST3300622A";

struct ProbeRow {
  const char* name;
  FakeDrive drive;
  uint32_t detected;
  const char* note;  // a line, or the start of one, that the probe logs
  const char* model = kSt;
  uint32_t forced = 0;
  uint32_t limit = kNoDriveSizeLimit;
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
  const std::string size = row.detected == 0
                               ? "Failed to get drive size"
                               : "Detected size = " + std::to_string(row.detected) + " sectors";
  EXPECT_TRUE(ui_.Logged("fake0 (" + std::string(row.model) + ") : " + size));
  const uint8_t command = row.drive.packet_device ? 0xA1 : 0xEC;  // IDENTIFY (PACKET) DEVICE
  EXPECT_EQ(platform_.identify_commands, row.drive.pass_through ? Buffer{command} : Buffer{});
  EXPECT_LE(platform_.sector_reads, 99);
  EXPECT_EQ(platform_.open_handles, 0);
}

const ProbeRow kProbeRows[] = {
    {"CountBelow137Gb", Ata(267386879, 300'000'000'000u), 267386879, kSt},
    {"CountOf137Gb", Ata(267386880, 300'000'000'000u), 585937500, "Used WinXP drive size"},
    {"PacketDevice", Ata(0, {}, 0, [](auto& d) { d.packet_device = true; }), 0,
     "fake0 : ATAPI device"},
    {"IdentifyFails", Ata(9, {}, 0, [](auto& d) { d.identify_ok = false; }), 0,
     "fake0 : Identify Command Failed", ""},
    // Without pass-through: named from elsewhere (at most 40 characters) and measured.
    {"NoPassThrough",
     Ata(0, {}, 1025,
         [](auto& d) {
           d.pass_through = false;
           d.fallback_model = "a-very-long-image-file-name-of-fifty-characters.img";
         }),
     1025, "Using binary search drive size detection", "a-very-long-image-file-name-of-fifty-cha"},
    {"SearchOverflowIs137Gb", Ata(kMeasure, {}, 2000000002), 267386880,
     "There appears to be a seek overflow problem on this drive"},
    // Beyond 32 bits of sectors: the largest size, not wrapped.
    {"LengthBeyond2TiB", Ata(kMeasure, (uint64_t{1} << 41) + 5 * 512), 0xFFFFFFFF,
     "This is greater than 1024GB so I am forcing size to 1024GB!)", kSt, kNoDriveSizeLimit},
    {"OneSectorAboveTheLimit", Ata(kMeasure, 1000001 * 512), 1000001,
     "This is greater than 0.512GB so I am forcing size to 0.512GB!)", kSt, 1000000, 1000000},
    {"AtTheLimit", Ata(kMeasure, uint64_t{267386880} * 512), 267386880, "Used WinXP drive size",
     kSt, 0, 267386880},
    {"Sectors4096", Ata(200, 200 * 4096, 0, [](auto& d) { d.logical_sector_size = 4096; }), 1600,
     "Logical sector size is 4096 bytes; the drive can be read, but nothing"}};
INSTANTIATE_TEST_SUITE_P(Rows, ProbeTable, ::testing::ValuesIn(kProbeRows), testing::ParamName());

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
  EXPECT_EQ(DiskRelationOf(a, b),
            GetParam().overlapping ? DiskRelation::kOverlapping : DiskRelation::kSame);
  // While one name is open for writing (one run), the other is refused to a writer (another run).
  for (const auto& [first, second] : {std::pair{a, b}, std::pair{b, a}}) {
    UniqueFd writer = UniqueFd::Open(first, OpenMode::kReadWrite);
    EXPECT_FALSE(writer.valid() && UniqueFd::Open(second, OpenMode::kReadWrite).valid())
        << first << " and then " << second;
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DiskAliases, ::testing::ValuesIn(testing::DiskAliases()),
                         testing::ParamName());

// A write-protected disk is refused for writing at the open, before anything is written.
TEST(PosixDeviceIo, AWriteProtectedDiskIsRefusedAtTheOpen) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "attaching a loop device needs root";
  testing::TempDir dir;
  testing::WriteFile(dir.File("d.img"), Buffer(4096));
  testing::LoopDevice loop(dir.File("d.img"), "-r");
  ASSERT_FALSE(loop.path().empty());
  EXPECT_FALSE(UniqueFd::Open(loop.path(), OpenMode::kReadWrite).valid());
  EXPECT_EQ(errno, EROFS);
  EXPECT_TRUE(UniqueFd::Open(loop.path(), OpenMode::kReadOnly).valid());
}

// A file made under a free name while a backup was written there is not replaced by it, nor is
// a link to a missing file.
TEST(FileReplacement, ANameTakenMeanwhileIsNotReplaced) {
  testing::TempDir dir;
  FileReplacement image(dir.File("b.rtv"));
  ASSERT_EQ(image.Create(), 0);
  testing::WriteFile(dir.File("b.rtv"), Buffer{'B'});
  EXPECT_EQ(image.Commit(), -1);
  EXPECT_EQ(testing::ReadFile(dir.File("b.rtv")), Buffer{'B'});
  ASSERT_EQ(::symlink("missing.rtv", dir.File("c.rtv").c_str()), 0);
  EXPECT_EQ(FileReplacement(dir.File("c.rtv")).Create(), -1);
}

// Two files of one file system are two disks; ranges of one disk overlap or not.
TEST(DriveIdentity, OtherFilesAndSeparateRangesAreSeparate) {
  testing::TempDir dir;
  testing::WriteFile(dir.File("a.img"), Buffer(1024));
  testing::WriteFile(dir.File("b.img"), Buffer(1024));
  EXPECT_EQ(DiskRelationOf(dir.File("a.img"), dir.File("b.img")), DiskRelation::kSeparate);
  auto disk = [](uint64_t first, uint64_t end) {
    return DriveExtent{
        .known = true, .block_device = true, .device = 7, .first = first, .end = end};
  };
  EXPECT_EQ(RelationOf(disk(0, 100), disk(99, 200)), DiskRelation::kOverlapping);
  EXPECT_EQ(RelationOf(disk(50, UINT64_MAX), disk(0, 100)), DiskRelation::kOverlapping);
  EXPECT_EQ(RelationOf(disk(0, 100), disk(100, 200)), DiskRelation::kSeparate);
}

}  // namespace
}  // namespace quillmar
