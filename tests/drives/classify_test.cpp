// Classification of drives from sectors 0 and 1, on image files made here and probed through
// the Linux platform (image files take the "not a hard drive" path and are measured by length).
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/settings.h"
#include "disk/device_io.h"
#include "disk/drive_map.h"
#include "disk/drive_probe.h"
#include "drives/classify.h"
#include "disk/forwarding_device_io.h"
#include "format/partition_block.h"
#include "format/volume_sequence.h"
#include "tests/support/probe_fake_platform.h"
#include "tests/support/disk_image.h"
#include "tests/support/param_names.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

using Lines = std::vector<std::string>;
using testing::FakeDrive;
using testing::FakeProbePlatform;

constexpr uint64_t kSector = 512;

// Passes everything to the POSIX calls, except that opens of one path can be refused and reads
// of another can fail; counts the opens of each path.
class GateIo : public ForwardingDeviceIo {
 public:
  GateIo() : ForwardingDeviceIo(PosixDeviceIo()) {}
  int Open(const std::string& path, OpenMode mode) override {
    ++opens[path];
    if (path == refused_path) {
      errno = refuse_errno;
      return -1;
    }
    int fd = PosixDeviceIo().Open(path, mode);
    if (fd >= 0 && path == failing_read_path)
      failing_fds_.insert(fd);
    return fd;
  }
  ssize_t Read(int fd, void* buffer, size_t n) override {
    if (failing_fds_.count(fd) != 0) {
      errno = EIO;
      return -1;
    }
    return PosixDeviceIo().Read(fd, buffer, n);
  }
  ssize_t Write(int, const void*, size_t) override {
    ADD_FAILURE() << "classification must never write";
    errno = EROFS;
    return -1;
  }
  int Close(int fd) override {
    failing_fds_.erase(fd);
    return PosixDeviceIo().Close(fd);
  }

  std::map<std::string, int> opens;
  std::string refused_path;
  int refuse_errno = EACCES;
  std::string failing_read_path;

 private:
  std::set<int> failing_fds_;
};

struct Layout {
  uint8_t types[4] = {kRecorderPartitionType, kRecorderPartitionType, 0, 0};
  uint32_t starts[4] = {2, 0, 0, 0};
  uint32_t lengths[4] = {0, 0, 0, 0};
};

// A recorder-style partition block in standard order.
Sector PartitionBlockFor(const Layout& layout) {
  Sector s0 = EmptyPartitionBlock();
  for (int n = 1; n <= 4; ++n) {
    size_t i = static_cast<size_t>(n - 1);
    if (layout.types[i] != 0 || layout.lengths[i] != 0) {
      WritePartitionEntry(s0, n, {layout.types[i], layout.starts[i], layout.lengths[i]});
    }
  }
  return s0;
}

// A layout whose lengths add up (with sectors 0 and 1) to total.
Layout RecorderLayout(uint32_t total) {
  Layout layout;
  layout.lengths[0] = 1000;
  layout.lengths[2] = 4000;
  layout.lengths[1] = total - 2 - 1000 - 4000;
  layout.starts[1] = 1002;
  layout.starts[2] = 1002 + layout.lengths[1];
  layout.types[2] = kRecorderPartitionType;
  return layout;
}

class Classification : public ::testing::Test {
 protected:
  Classification() {
    ResetDriveTable();
    ResetSettings();
  }
  ~Classification() override {
    SetDeviceIo(nullptr);
    SetProbePlatform(nullptr);
    SetDrivePaths({});
    ResetDriveTable();
    ResetSettings();
  }

  // A sparse image of the given size with sectors 0 and 1 written as given (in the order the
  // disk stores them: callers swap for RTV4000 themselves).
  std::string Image(const std::string& name, uint64_t sectors, const Sector& s0, const Sector& s1) {
    std::string path = dir_.File(name);
    EXPECT_TRUE(testing::MakeBlankImage(path, sectors));
    EXPECT_TRUE(testing::WriteSectors(path, 0, s0));
    EXPECT_TRUE(testing::WriteSectors(path, 1, s1));
    return path;
  }

  // Maps the images as drives 0, 1, ... and runs one classification pass.
  void ClassifyImages(const std::vector<std::string>& paths) {
    SetDrivePaths(paths);
    ClassifyDrives();
  }

  testing::TempDir dir_;
  testing::ScriptedFrontEnd ui_{true, dir_.File("quillmar.log")};
};

TEST_F(Classification, FirstPassProbesAndLogsLaterPassesRereadSilently) {
  Layout layout = RecorderLayout(20000);
  std::string path = Image("old.img", 20000, PartitionBlockFor(layout), Sector{});
  ClassifyImages({path});
  EXPECT_EQ(ui_.lines(), (Lines{path + " : DFP_GET_VERSION failed (not a hard drive?)",
                                path + " (old.img) : Used WinXP drive size detection",
                                path + " (old.img) : Detected size = 20000 sectors"}));
  EXPECT_FALSE(g_probePending);
  const DriveInfo& d = DriveTable[0];
  EXPECT_EQ(d.device_path, path);
  EXPECT_EQ(d.model, "old.img");
  EXPECT_EQ(d.size_sectors, 20000u);
  EXPECT_EQ(d.is_replaytv, 1);
  EXPECT_EQ(d.patched, 1);
  EXPECT_EQ(d.p1_length, 1000u);
  EXPECT_EQ(d.p2_length, 14998u);
  EXPECT_EQ(d.p3_length, 4000u);
  EXPECT_EQ(d.p2_start, 1002u);
  EXPECT_EQ(d.p3_start, 16000u);
  for (int i = 1; i < kMaxDrives; ++i)
    EXPECT_TRUE(DriveTable[i].model.empty());

  // The disk changes under the program: the next pass sees it, without probing or logging.
  layout.lengths[1] -= 8;
  ASSERT_TRUE(testing::WriteSectors(path, 0, PartitionBlockFor(layout)));
  ClassifyDrives();
  EXPECT_EQ(ui_.lines().size(), 3u) << ui_.Transcript();
  EXPECT_EQ(DriveTable[0].p2_length, 14990u);
  EXPECT_EQ(DriveTable[0].patched, 0);
  EXPECT_EQ(DriveTable[0].model, "old.img");
}

TEST_F(Classification, AllZeroSectorsAreNotAReplayTvDisk) {
  std::string path = Image("blank.img", 4096, Sector{}, Sector{});
  ClassifyImages({path});
  const DriveInfo& d = DriveTable[0];
  EXPECT_EQ(d.size_sectors, 4096u);
  EXPECT_EQ(d.rtv4000 + d.is_replaytv + d.system_disk + d.dual_position + d.patched, 0);
  EXPECT_EQ(d.p1_length + d.p2_length + d.p3_length + d.p4_length, 0u);
}

TEST_F(Classification, Rtv4000DiskIsReadFromItsConvertedSectors) {
  Layout layout = RecorderLayout(50000);
  Sector s0 = PartitionBlockFor(layout);
  Sector s1 = BuildVolumeSequenceBlock(1, 40000, 50000);
  Rtv4000Byteswap(s0);
  Rtv4000Byteswap(s1);
  ASSERT_EQ(s0[508], 0xAA);
  ASSERT_EQ(s0[509], 0x55);
  ClassifyImages({Image("rtv4000.img", 50000, s0, s1)});
  const DriveInfo& d = DriveTable[0];
  EXPECT_EQ(d.rtv4000, 1);
  EXPECT_EQ(d.is_replaytv, 1);
  EXPECT_EQ(d.p1_length, 1000u);
  EXPECT_EQ(d.p2_length, 44998u);
  EXPECT_EQ(d.p3_length, 4000u);
  EXPECT_EQ(d.p2_start, 1002u);
  EXPECT_EQ(d.p3_start, 46000u);
  EXPECT_EQ(d.dual_position, 2);  // sector 1 is converted before its test
  EXPECT_EQ(d.patched, 1);
  EXPECT_EQ(d.system_disk, 0);
}

struct TypesCase {
  uint8_t types[4];
  int system_disk;
  int is_replaytv;
  // An entry 4 length of 0x55AAxxxx puts AA 55 at bytes 508-509: signed in both byte orders.
  uint32_t p4_length = 0;
  int rtv4000 = 0;
};

std::string TypesName(const ::testing::TestParamInfo<TypesCase>& info) {
  const uint8_t* t = info.param.types;
  std::string name = Format("Types%02X%02X%02X%02X", t[0], t[1], t[2], t[3]);
  return info.param.p4_length == 0 ? name : name + "SignedInBothOrders";
}

class PartitionTypes : public Classification, public ::testing::WithParamInterface<TypesCase> {};

TEST_P(PartitionTypes, FirstUsedEntryDecidesWhetherItIsAPcDisk) {
  Layout layout;
  for (size_t i = 0; i < 4; ++i) {
    layout.types[i] = GetParam().types[i];
    layout.lengths[i] = layout.types[i] != 0 ? 100 : 0;
  }
  layout.lengths[3] += GetParam().p4_length;
  ClassifyImages({Image("disk.img", 2048, PartitionBlockFor(layout), Sector{})});
  EXPECT_EQ(DriveTable[0].system_disk, GetParam().system_disk);
  EXPECT_EQ(DriveTable[0].is_replaytv, GetParam().is_replaytv);
  EXPECT_EQ(DriveTable[0].rtv4000, GetParam().rtv4000);
}

INSTANTIATE_TEST_SUITE_P(
    Classify, PartitionTypes,
    ::testing::Values(TypesCase{{0x07, 0, 0, 0}, 1, 0}, TypesCase{{0x83, 0x82, 0, 0}, 1, 0},
                      TypesCase{{0, 0x0B, 0, 0}, 1, 0}, TypesCase{{0, 0, 0, 0x0C}, 1, 0},
                      TypesCase{{0x4D, 0x07, 0, 0}, 0, 0}, TypesCase{{0x4D, 0x4D, 0x4D, 0}, 0, 1},
                      TypesCase{{0xEE, 0, 0, 0}, 1, 0},  // GPT
                      TypesCase{{0xEF, 0, 0, 0}, 1, 0}, TypesCase{{0xA5, 0x07, 0, 0}, 0, 0},
                      TypesCase{{0, 0, 0, 0}, 0, 0}, TypesCase{{0x07, 0, 0, 0}, 1, 0, 0x55AA0000},
                      TypesCase{{0, 0, 0, 0x83}, 1, 0, 0x55AA0000},
                      TypesCase{{0x4D, 0x4D, 0, 0}, 0, 0, 0x55AA0000, 1}),
    TypesName);

struct SequenceCase {
  uint64_t drive_index;
  uint32_t drive_count;
  bool magic;
  bool rtv4000;
  int position;
};

std::string SequenceName(const ::testing::TestParamInfo<SequenceCase>& info) {
  const SequenceCase& c = info.param;
  return testing::NameFromNumber("Index", static_cast<long long>(c.drive_index)) +
         testing::NameFromNumber("Of", c.drive_count) + (c.magic ? "" : "NoMagic") +
         testing::ByteOrderName(c.rtv4000);
}

class DualPosition : public Classification, public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(DualPosition, ComesFromTheVolumeSequenceBlock) {
  const SequenceCase& c = GetParam();
  Sector s0 = PartitionBlockFor(RecorderLayout(8192));
  Sector s1 = BuildVolumeSequenceBlock(0, 8192, 8192);
  PutBe64(s1, 8, c.drive_index);
  PutBe32(s1, 16, c.drive_count);
  if (!c.magic)
    PutBe32(s1, 0, kVolumeSequenceMagic ^ 1);
  if (c.rtv4000) {
    Rtv4000Byteswap(s0);
    Rtv4000Byteswap(s1);
  }
  ClassifyImages({Image("pair.img", 8192, s0, s1)});
  EXPECT_EQ(DriveTable[0].rtv4000, c.rtv4000 ? 1 : 0);
  EXPECT_EQ(DriveTable[0].dual_position, c.position);
}

INSTANTIATE_TEST_SUITE_P(
    Classify, DualPosition,
    ::testing::Values(SequenceCase{0, 2, true, false, 1}, SequenceCase{1, 2, true, false, 2},
                      SequenceCase{5, 2, true, false, 0}, SequenceCase{0, 3, true, false, 0},
                      SequenceCase{1, 2, false, false, 0}, SequenceCase{0, 2, true, true, 1},
                      SequenceCase{1, 2, true, true, 2}, SequenceCase{5, 2, true, true, 0},
                      SequenceCase{uint64_t{1} << 32, 2, true, true, 0}),
    SequenceName);

struct PatchedCase {
  bool rtv4000;
  uint32_t size;
  uint32_t total;
  int patched;
};

std::string PatchedName(const ::testing::TestParamInfo<PatchedCase>& info) {
  return testing::ByteOrderName(info.param.rtv4000) +
         testing::NameFromNumber("Size", info.param.size) +
         testing::NameFromNumber("Layout", info.param.total);
}

class Patched : public Classification, public ::testing::WithParamInterface<PatchedCase> {};

TEST_P(Patched, WhenThePartitionsFillTheUsableSize) {
  const PatchedCase& c = GetParam();
  Sector s0 = PartitionBlockFor(RecorderLayout(c.total));
  if (c.rtv4000)
    Rtv4000Byteswap(s0);
  ClassifyImages({Image("big.img", c.size, s0, Sector{})});
  EXPECT_EQ(DriveTable[0].size_sectors, c.size);
  EXPECT_EQ(DriveTable[0].size_gb, c.size / 1953125u);
  EXPECT_EQ(DriveTable[0].patched, c.patched);
}

INSTANTIATE_TEST_SUITE_P(Classify, Patched,
                         ::testing::Values(PatchedCase{false, 20000, 20000, 1},
                                           PatchedCase{false, 20000, 19999, 0},
                                           PatchedCase{false, 20000, 20001, 0},
                                           PatchedCase{false, 267386879, 267386879, 1},
                                           PatchedCase{false, 267386880, 267386880, 1},
                                           PatchedCase{false, 300000000, 267386880, 1},
                                           PatchedCase{false, 300000000, 300000000, 0},
                                           PatchedCase{true, 20000, 20000, 1},
                                           PatchedCase{true, 300000000, 300000000, 1},
                                           PatchedCase{true, 300000000, 267386880, 0}),
                         PatchedName);

TEST_F(Classification, ForcedSizeIsTheUsableSize) {
  g_maxDriveSectors = 3906250;  // 2 GB
  ClassifyImages(
      {Image("three.img", 5859375, PartitionBlockFor(RecorderLayout(3906250)), Sector{})});
  EXPECT_TRUE(ui_.Logged("  This is greater than 2GB so I am forcing size to 2GB!)"))
      << ui_.Transcript();
  EXPECT_EQ(g_detectedSectors[0], 5859375u);
  EXPECT_EQ(DriveTable[0].size_sectors, 3906250u);
  EXPECT_EQ(DriveTable[0].size_gb, 2u);
  EXPECT_EQ(DriveTable[0].patched, 1);
}

// A refused open is logged once, the drive listed empty and retried silently; a refusal for want
// of permission names the image file and its problem (root is no answer there).
class RefusedOpen : public Classification, public ::testing::WithParamInterface<int> {};

TEST_P(RefusedOpen, IsLoggedOnceListedEmptyAndRetriedSilently) {
  GateIo io;
  io.refuse_errno = GetParam();
  SetDeviceIo(&io);
  std::string a = Image("a.img", 4096, PartitionBlockFor(RecorderLayout(4096)), Sector{});
  std::string b = Image("b.img", 4096, Sector{}, Sector{});
  io.refused_path = a;
  ClassifyImages({a, b});
  size_t probe_lines = 6;
  size_t lines = probe_lines + (GetParam() == EACCES ? 2 : 1);
  ASSERT_EQ(ui_.lines().size(), lines) << ui_.Transcript();
  EXPECT_EQ(ui_.lines()[probe_lines], a + " (a.img) : Unable to open (may be a CD-ROM drive)");
  if (GetParam() == EACCES) {
    EXPECT_EQ(ui_.lines()[probe_lines + 1], a + " : Could not open image file: Permission denied");
  }
  EXPECT_EQ(DriveTable[0].model, "a.img");
  EXPECT_EQ(DriveTable[0].size_sectors, 0u);  // listed as "Empty"
  EXPECT_EQ(DriveTable[0].unreadable, 0);
  EXPECT_EQ(DriveTable[1].size_sectors, 4096u);

  ClassifyDrives();
  EXPECT_EQ(ui_.lines().size(), lines) << ui_.Transcript();
  EXPECT_EQ(io.opens[a], 2);
  EXPECT_EQ(DriveTable[0].size_sectors, 0u);

  io.refused_path.clear();
  ClassifyDrives();
  EXPECT_EQ(ui_.lines().size(), lines) << ui_.Transcript();
  EXPECT_EQ(DriveTable[0].size_sectors, 4096u);
  EXPECT_EQ(DriveTable[0].is_replaytv, 1);
}

INSTANTIATE_TEST_SUITE_P(Classify, RefusedOpen, ::testing::Values(EACCES, ENOMEDIUM),
                         [](const ::testing::TestParamInfo<int>& row) {
                           return std::string(strerrorname_np(row.param));
                         });

enum class ReadFault { kShortSector0, kShortSector1, kReadError };

std::string ReadFaultName(const ::testing::TestParamInfo<ReadFault>& info) {
  const char* names[] = {"ShortSector0", "ShortSector1", "ReadError"};
  return names[static_cast<int>(info.param)];
}

class Unreadable : public Classification, public ::testing::WithParamInterface<ReadFault> {};

TEST_P(Unreadable, DriveIsLoggedOnceAndSkippedFromThenOn) {
  GateIo io;
  SetDeviceIo(&io);
  Sector s0 = PartitionBlockFor(RecorderLayout(4096));
  std::string path = Image("short.img", 4096, s0, Sector{});
  uint64_t bytes = GetParam() == ReadFault::kShortSector0   ? 300
                   : GetParam() == ReadFault::kShortSector1 ? 700
                                                            : 4096 * kSector;
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(bytes)), 0);
  if (GetParam() == ReadFault::kReadError)
    io.failing_read_path = path;
  ClassifyImages({path});
  EXPECT_EQ(ui_.lines().back(), path + " (short.img) : Unable to read partition table")
      << ui_.Transcript();
  EXPECT_EQ(DriveTable[0].unreadable, 1);
  EXPECT_EQ(DriveTable[0].size_sectors, 0u);
  EXPECT_EQ(DriveTable[0].is_replaytv, 0);

  // Even once the disk is whole and readable again, it stays skipped for the run.
  io.failing_read_path.clear();
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(4096 * kSector)), 0);
  ASSERT_TRUE(testing::WriteSectors(path, 0, s0));
  size_t lines = ui_.lines().size();
  ClassifyDrives();
  EXPECT_EQ(ui_.lines().size(), lines);
  EXPECT_EQ(io.opens[path], 1);
  EXPECT_EQ(DriveTable[0].unreadable, 1);
  EXPECT_EQ(DriveTable[0].is_replaytv, 0);
}

INSTANTIATE_TEST_SUITE_P(Classify, Unreadable,
                         ::testing::Values(ReadFault::kShortSector0, ReadFault::kShortSector1,
                                           ReadFault::kReadError),
                         ReadFaultName);

TEST_F(Classification, UsesTheInstalledProbePlatformAndSkipsDrivesWithoutAModel) {
  GateIo io;
  SetDeviceIo(&io);
  std::string blank =
      Image("blank-model.img", 4096, PartitionBlockFor(RecorderLayout(4096)), Sector{});
  std::string named = Image("named.img", 4096, PartitionBlockFor(RecorderLayout(4096)), Sector{});
  FakeProbePlatform platform;
  FakeDrive blank_drive;
  blank_drive.model_field = std::string(40, ' ');
  blank_drive.identify_sectors = 4096;
  FakeDrive named_drive = blank_drive;
  named_drive.model_field = "IC35L180AVV207-1";
  named_drive.identify_sectors = 3000;  // IDENTIFY decides, not the file's length
  platform.Add(blank, blank_drive);
  platform.Add(named, named_drive);
  SetProbePlatform(&platform);
  ClassifyImages({blank, named});
  EXPECT_EQ(platform.opens, 2);
  EXPECT_EQ(io.opens.count(blank), 0u);
  EXPECT_EQ(DriveTable[0].size_sectors, 0u);
  EXPECT_EQ(DriveTable[1].model, "IC35L180AVV207-1");
  EXPECT_EQ(DriveTable[1].size_sectors, 3000u);
  EXPECT_EQ(DriveTable[1].is_replaytv, 1);
  EXPECT_EQ(DriveTable[1].patched, 0);

  ClassifyDrives();
  EXPECT_EQ(platform.opens, 2);  // probed once per run
  EXPECT_EQ(io.opens[named], 2);
}

}  // namespace
}  // namespace quillmar
