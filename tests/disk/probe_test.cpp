// The probe: pass-through, IDENTIFY, the model text and which IDENTIFY counts are believed; the
// search for the last readable sector, the seek overflow, the command-line limit, and what happens
// to drives that cannot be opened.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/probe_fake_platform.h"
#include "tests/support/param_names.h"
#include "tests/support/probe_fake_platform.h"

namespace quillmar {
namespace {

using testing::FakeDrive;
using testing::ProbeTestBase;
using Lines = std::vector<std::string>;

class DriveProbe : public ProbeTestBase {};

constexpr uint64_t k300GbBytes = 300000000000u;  // 585,937,500 sectors

FakeDrive AtaDrive(uint32_t identify_sectors) {
  FakeDrive drive;
  drive.model_field = std::string("ST3300622A") + std::string(30, ' ');
  drive.identify_sectors = identify_sectors;
  drive.length_bytes = k300GbBytes;
  return drive;
}

struct CountCase {
  uint32_t identify_sectors;
  Lines lines;
  int length_requests;
  uint32_t detected;
};

void PrintTo(const CountCase& c, std::ostream* os) {
  *os << c.identify_sectors;
}

class IdentifyCount : public ProbeTestBase, public ::testing::WithParamInterface<CountCase> {};

TEST_P(IdentifyCount, DecidesWhetherTheDriveIsMeasured) {
  const CountCase& c = GetParam();
  ProbeOne(AtaDrive(c.identify_sectors));
  EXPECT_EQ(ui_.lines(), c.lines);
  EXPECT_EQ(platform_.length_requests, c.length_requests);
  EXPECT_EQ(g_detectedSectors[0], c.detected);
  EXPECT_EQ(g_forcedSectors[0], 0u);
  EXPECT_EQ(DriveTable[0].model, "ST3300622A");
  EXPECT_EQ(platform_.identify_commands, std::vector<uint8_t>{0xEC});
  EXPECT_EQ(platform_.open_handles, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Probe, IdentifyCount,
    ::testing::Values(CountCase{267386879,
                                {"fake0 (ST3300622A) : Detected size = 267386879 sectors"},
                                0,
                                267386879},
                      CountCase{267386880,
                                {"fake0 (ST3300622A) : Used WinXP drive size detection",
                                 "fake0 (ST3300622A) : Detected size = 585937500 sectors"},
                                1,
                                585937500},
                      CountCase{268435455,
                                {"fake0 (ST3300622A) : Used WinXP drive size detection",
                                 "fake0 (ST3300622A) : Detected size = 585937500 sectors"},
                                1,
                                585937500},
                      CountCase{0, {"fake0 (ST3300622A) : Failed to get drive size"}, 0, 0},
                      CountCase{1, {"fake0 (ST3300622A) : Detected size = 1 sectors"}, 0, 1}),
    [](const ::testing::TestParamInfo<CountCase>& row) {
      return testing::NameFromNumber("Identify", row.param.identify_sectors);
    });

TEST_F(DriveProbe, PacketDeviceIsAnnouncedAndAskedWithIdentifyPacketDevice) {
  FakeDrive drive = AtaDrive(0);
  drive.packet_device = true;
  drive.model_field = "HL-DT-ST DVDRAM GSA-4163B";
  ProbeOne(drive);
  EXPECT_EQ(ui_.lines(), (Lines{"fake0 : ATAPI device",
                                "fake0 (HL-DT-ST DVDRAM GSA-4163B) : Failed to get drive size"}));
  EXPECT_EQ(platform_.identify_commands, std::vector<uint8_t>{0xA1});
}

TEST_F(DriveProbe, FailedIdentifyLeavesNoDriveAndReportsTheErrorPairInHex) {
  FakeDrive drive = AtaDrive(267386879);
  drive.identify_ok = false;
  drive.identify_error = {0xAB, 0x04};
  ProbeOne(drive);
  EXPECT_EQ(ui_.lines(), (Lines{"fake0 : Identify Command Failed",
                                "   DriverStatus: bDriverError=0xAB, bIDEStatus=0x4",
                                "fake0 () : Failed to get drive size"}));
  EXPECT_EQ(DriveTable[0].model, "");
  EXPECT_EQ(DriveTable[0].device_path, "fake0");
  EXPECT_EQ(g_detectedSectors[0], 0u);
  EXPECT_EQ(platform_.length_requests, 0);
  EXPECT_EQ(platform_.open_handles, 0);
}

struct NoPassThroughCase {
  std::string fallback;
  std::optional<uint64_t> length_bytes;
  std::string model;
  Lines lines;
};

void PrintTo(const NoPassThroughCase& c, std::ostream* os) {
  *os << '"' << c.model << "\" length "
      << (c.length_bytes ? std::to_string(*c.length_bytes) : "none");
}

class WithoutPassThrough : public ProbeTestBase,
                           public ::testing::WithParamInterface<NoPassThroughCase> {};

TEST_P(WithoutPassThrough, NamesTheDriveAndMeasuresIt) {
  const NoPassThroughCase& c = GetParam();
  FakeDrive drive;
  drive.pass_through = false;
  drive.fallback_model = c.fallback;
  drive.length_bytes = c.length_bytes;
  drive.readable_sectors = 5;
  ProbeOne(drive);
  EXPECT_EQ(ui_.lines(), c.lines);
  EXPECT_EQ(DriveTable[0].model, c.model);
  EXPECT_TRUE(platform_.identify_commands.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Probe, WithoutPassThrough,
    ::testing::Values(
        NoPassThroughCase{"",
                          1048576,
                          "Unknown",
                          {"fake0 : DFP_GET_VERSION failed (not a hard drive?)",
                           "fake0 (Unknown) : Used WinXP drive size detection",
                           "fake0 (Unknown) : Detected size = 2048 sectors"}},
        NoPassThroughCase{"  \t ",
                          1048576 + 511,  // a partial sector at the end does not count
                          "Unknown",
                          {"fake0 : DFP_GET_VERSION failed (not a hard drive?)",
                           "fake0 (Unknown) : Used WinXP drive size detection",
                           "fake0 (Unknown) : Detected size = 2048 sectors"}},
        NoPassThroughCase{"old.img",
                          std::nullopt,
                          "old.img",
                          {"fake0 : DFP_GET_VERSION failed (not a hard drive?)",
                           "fake0 (old.img) : Using binary search drive size detection",
                           "fake0 (old.img) : Detected size = 5 sectors"}},
        NoPassThroughCase{"a-very-long-image-file-name-of-fifty-characters.img",
                          0,
                          "a-very-long-image-file-name-of-fifty-cha",
                          {"fake0 : DFP_GET_VERSION failed (not a hard drive?)",
                           "fake0 (a-very-long-image-file-name-of-fifty-cha) : Used WinXP drive "
                           "size detection",
                           "fake0 (a-very-long-image-file-name-of-fifty-cha) : Failed to get "
                           "drive size"}}),
    [](const ::testing::TestParamInfo<NoPassThroughCase>& row) {
      const std::optional<uint64_t>& length = row.param.length_bytes;
      return length ? testing::NameFromNumber("Length", static_cast<long long>(*length))
                    : std::string("LengthFails");
    });

struct ModelCase {
  std::string field;
  std::string model;
};

void PrintTo(const ModelCase& c, std::ostream* os) {
  *os << '"' << c.model << '"';
}

class ModelText : public ProbeTestBase, public ::testing::WithParamInterface<ModelCase> {};

TEST_P(ModelText, IsTakenFromTheSwappedWordsAndTrimmed) {
  FakeDrive drive = AtaDrive(1000);
  drive.model_field = GetParam().field;
  ProbeOne(drive);
  EXPECT_EQ(DriveTable[0].model, GetParam().model);
  ASSERT_EQ(ui_.lines().size(), 1u);
  EXPECT_EQ(ui_.lines()[0], "fake0 (" + GetParam().model + ") : Detected size = 1000 sectors");
}

INSTANTIATE_TEST_SUITE_P(Probe, ModelText,
                         ::testing::Values(ModelCase{std::string(40, ' '), ""},
                                           ModelCase{"WDC WD2500JB-00GVA0" + std::string(21, ' '),
                                                     "WDC WD2500JB-00GVA0"},
                                           ModelCase{"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd",
                                                     "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd"},
                                           ModelCase{"Maxtor 6Y080L0 \t\r\n\v\f", "Maxtor 6Y080L0"},
                                           ModelCase{std::string("WDC\0junk", 8), "WDC"},
                                           ModelCase{"Odd", "Odd"}),
                         [](const ::testing::TestParamInfo<ModelCase>& row) {
                           return testing::NameFromText(row.param.model);
                         });

FakeDrive UnmeasurableDrive() {
  FakeDrive drive;
  drive.model_field = "SAMSUNG SP2514N";
  drive.identify_sectors = 268435455;  // the 28-bit maximum: measure it
  return drive;
}

class SizeSearch : public ProbeTestBase, public ::testing::WithParamInterface<uint64_t> {};

TEST_P(SizeSearch, FindsTheEndOfTheReadableRegion) {
  uint64_t n = GetParam();
  g_maxDriveSectors = UINT32_MAX;  // sizes above the default limit are found just the same
  FakeDrive drive = UnmeasurableDrive();
  drive.readable_sectors = n;
  ProbeOne(drive);
  EXPECT_EQ(ui_.lines(),
            (Lines{"fake0 (SAMSUNG SP2514N) : Using binary search drive size detection",
                   "fake0 (SAMSUNG SP2514N) : Detected size = " + std::to_string(n) + " sectors"}));
  EXPECT_EQ(g_detectedSectors[0], n);
  EXPECT_EQ(platform_.length_requests, 1);
  EXPECT_LE(platform_.sector_reads, 99);
}

INSTANTIATE_TEST_SUITE_P(Probe, SizeSearch,
                         ::testing::Values(1, 2, 3, 1000, 1023, 1024, 1025, 267386879, 267386880,
                                           268435456, 585937500, 1999999999, 2000000000,
                                           2000000001),
                         testing::NumberName{"Sectors"});

struct OverflowCase {
  uint64_t readable_sectors;
  bool readable_forever;
};

void PrintTo(const OverflowCase& c, std::ostream* os) {
  *os << (c.readable_forever ? std::string("forever") : std::to_string(c.readable_sectors));
}

class SeekOverflow : public ProbeTestBase, public ::testing::WithParamInterface<OverflowCase> {};

TEST_P(SeekOverflow, GivesThe137GbSize) {
  FakeDrive drive = UnmeasurableDrive();
  drive.readable_sectors = GetParam().readable_sectors;
  drive.readable_forever = GetParam().readable_forever;
  ProbeOne(drive);
  EXPECT_EQ(ui_.lines(),
            (Lines{"fake0 (SAMSUNG SP2514N) : Using binary search drive size detection",
                   "fake0 (SAMSUNG SP2514N) : There appears to be a seek overflow problem on "
                   "this drive, interesting!",
                   "fake0 (SAMSUNG SP2514N) : Detected size = 267386880 sectors"}));
  EXPECT_EQ(g_detectedSectors[0], 267386880u);
  EXPECT_LE(platform_.sector_reads, 99);
}

INSTANTIATE_TEST_SUITE_P(Probe, SeekOverflow,
                         ::testing::Values(OverflowCase{0, false},  // nothing readable at all
                                           OverflowCase{2000000002, false},  // last 2,000,000,001
                                           OverflowCase{0, true}),           // reads never end
                         [](const ::testing::TestParamInfo<OverflowCase>& row) {
                           return row.param.readable_forever
                                      ? std::string("ReadableForever")
                                      : testing::NameFromNumber(
                                            "Readable",
                                            static_cast<long long>(row.param.readable_sectors));
                         });

struct LimitCase {
  uint32_t limit;
  uint64_t length_bytes;
  uint32_t detected;
  std::string message;  // "" when the size is within the limit
};

void PrintTo(const LimitCase& c, std::ostream* os) {
  *os << "limit " << c.limit << " size " << c.detected;
}

class SizeLimit : public ProbeTestBase, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(SizeLimit, ForcesLargerDrivesDownAndKeepsTheDetectedSize) {
  const LimitCase& c = GetParam();
  g_maxDriveSectors = c.limit;
  FakeDrive drive = UnmeasurableDrive();
  drive.length_bytes = c.length_bytes;
  ProbeOne(drive);
  Lines expected{
      "fake0 (SAMSUNG SP2514N) : Used WinXP drive size detection",
      "fake0 (SAMSUNG SP2514N) : Detected size = " + std::to_string(c.detected) + " sectors"};
  if (!c.message.empty())
    expected.push_back(c.message);
  EXPECT_EQ(ui_.lines(), expected);
  EXPECT_EQ(g_detectedSectors[0], c.detected);
  EXPECT_EQ(g_forcedSectors[0], c.message.empty() ? 0u : c.limit);
}

constexpr uint64_t kSector = 512;

INSTANTIATE_TEST_SUITE_P(
    Probe, SizeLimit,
    ::testing::Values(
        LimitCase{kNoDriveSizeLimit, 2000000000 * kSector, 2000000000, ""},
        LimitCase{kNoDriveSizeLimit, 2000000001 * kSector, 2000000001,
                  "  This is greater than 1024GB so I am forcing size to 1024GB!)"},
        // More sectors than 32 bits hold: taken as the largest 32-bit size, not wrapped to 5.
        LimitCase{kNoDriveSizeLimit, (0x100000000u + 5) * kSector, 0xFFFFFFFFu,
                  "  This is greater than 1024GB so I am forcing size to 1024GB!)"},
        LimitCase{1000000, 1000001 * kSector, 1000001,
                  "  This is greater than 0.512GB so I am forcing size to 0.512GB!)"},
        LimitCase{267386880, 585937500 * kSector, 585937500,
                  "  This is greater than 136.902GB so I am forcing size to 136.902GB!)"},
        LimitCase{267386880, 267386880 * kSector, 267386880, ""}),
    [](const ::testing::TestParamInfo<LimitCase>& row) {
      return testing::NameFromNumber("Limit", row.param.limit) +
             testing::NameFromNumber("Sectors",
                                     static_cast<long long>(row.param.length_bytes / 512));
    });

TEST_F(DriveProbe, DrivesThatDoNotOpenAreLeftEmptyAndRefusalsAskForRootOnce) {
  FakeDrive absent;
  absent.open_errno = ENOENT;
  FakeDrive refused;
  refused.open_errno = EACCES;
  FakeDrive forbidden;
  forbidden.open_errno = EPERM;
  FakeDrive present = UnmeasurableDrive();
  present.identify_sectors = 1000;
  // An unreadable image file: root is no answer there, the file and its problem are named.
  std::string image = dir_.File("locked\n.img");
  std::fclose(std::fopen(image.c_str(), "w"));
  Probe({{"d0", absent}, {"d1", refused}, {"d2", present}, {"d3", forbidden}, {image, refused}});
  ASSERT_EQ(ui_.lines().size(), 3u) << ui_.Transcript();
  EXPECT_EQ(ui_.lines()[0], "d2 (SAMSUNG SP2514N) : Detected size = 1000 sectors");
  EXPECT_EQ(ui_.lines()[1],
            dir_.File("locked\\x0a.img") + " : Could not open image file: Permission denied");
  EXPECT_NE(ui_.lines()[2].find("needs root"), std::string::npos) << ui_.lines()[2];
  for (int i : {0, 1, 3}) {
    EXPECT_EQ(DriveTable[i].device_path, "d" + std::to_string(i));
    EXPECT_EQ(DriveTable[i].model, "");
    EXPECT_EQ(g_detectedSectors[i], 0u);
  }
  EXPECT_EQ(platform_.open_handles, 0);
}

TEST_F(DriveProbe, AbsentDrivesAloneAreNotAPermissionProblem) {
  FakeDrive absent;
  absent.open_errno = ENXIO;
  Probe({{"d0", absent}});
  EXPECT_TRUE(ui_.lines().empty()) << ui_.Transcript();
}

TEST_F(DriveProbe, VisitsOnlyMappedIndexesInOrderAndClosesEveryDrive) {
  FakeDrive a = UnmeasurableDrive();
  a.identify_sectors = 100;
  FakeDrive b = a;
  b.identify_sectors = 200;  // IDENTIFY counts the drive's own 4096-byte sectors
  b.logical_sector_size = 4096;
  b.length_bytes = 200 * 4096;
  FakeDrive c = a;
  c.identify_sectors = 300;
  Probe({{"a", a}, {"b", b}, {"c", c}});
  EXPECT_EQ(ui_.lines(),
            (Lines{"a (SAMSUNG SP2514N) : Detected size = 100 sectors",
                   "b (SAMSUNG SP2514N) : Used WinXP drive size detection",
                   "b (SAMSUNG SP2514N) : Detected size = 1600 sectors",
                   "b (SAMSUNG SP2514N) : Logical sector size is 4096 bytes; the drive can be "
                   "read, but nothing will be written to it",
                   "c (SAMSUNG SP2514N) : Detected size = 300 sectors"}));
  EXPECT_EQ(DriveTable[1].sector_bytes, 4096u);
  EXPECT_EQ(platform_.opens, 3);
  EXPECT_EQ(platform_.open_handles, 0);
  for (int i = 3; i < kMaxDrives; ++i)
    EXPECT_EQ(DriveTable[i].device_path, "");
}

}  // namespace
}  // namespace quillmar
