// The probe's size path: the search for the last readable sector, the seek overflow, the
// command-line limit, and what happens to drives that cannot be opened.
#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>
#include <string>
#include <vector>

#include "tests/disk/probe_fake_platform.h"

namespace quillmar {
namespace {

using testing::FakeDrive;
using testing::ProbeTestBase;
using Lines = std::vector<std::string>;

class DriveProbeSize : public ProbeTestBase {};

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
                         ::testing::Values(1, 2, 3, 4, 5, 6, 7, 8, 9, 1000, 1023, 1024, 1025,
                                           267386879, 267386880, 268435456, 585937500, 1999999999,
                                           2000000000, 2000000001));

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
                                           OverflowCase{0, true}));          // reads never end

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
        LimitCase{267386880, 267386880 * kSector, 267386880, ""}));

TEST_F(DriveProbeSize, DrivesThatDoNotOpenAreLeftEmptyAndRefusalsAskForRootOnce) {
  FakeDrive absent;
  absent.open_errno = ENOENT;
  FakeDrive refused;
  refused.open_errno = EACCES;
  FakeDrive forbidden;
  forbidden.open_errno = EPERM;
  FakeDrive present = UnmeasurableDrive();
  present.identify_sectors = 1000;
  Probe({{"d0", absent}, {"d1", refused}, {"d2", present}, {"d3", forbidden}});
  ASSERT_EQ(ui_.lines().size(), 2u) << ui_.Transcript();
  EXPECT_EQ(ui_.lines()[0], "d2 (SAMSUNG SP2514N) : Detected size = 1000 sectors");
  EXPECT_NE(ui_.lines()[1].find("needs root"), std::string::npos) << ui_.lines()[1];
  for (int i : {0, 1, 3}) {
    EXPECT_EQ(DriveTable[i].device_path, "d" + std::to_string(i));
    EXPECT_EQ(DriveTable[i].model, "");
    EXPECT_EQ(g_detectedSectors[i], 0u);
  }
  EXPECT_EQ(platform_.open_handles, 0);
}

TEST_F(DriveProbeSize, AbsentDrivesAloneAreNotAPermissionProblem) {
  FakeDrive absent;
  absent.open_errno = ENXIO;
  Probe({{"d0", absent}});
  EXPECT_TRUE(ui_.lines().empty()) << ui_.Transcript();
}

TEST_F(DriveProbeSize, VisitsOnlyMappedIndexesInOrderAndClosesEveryDrive) {
  FakeDrive a = UnmeasurableDrive();
  a.identify_sectors = 100;
  FakeDrive b = a;
  b.identify_sectors = 200;
  b.logical_sector_size = 4096;
  FakeDrive c = a;
  c.identify_sectors = 300;
  Probe({{"a", a}, {"b", b}, {"c", c}});
  EXPECT_EQ(ui_.lines(),
            (Lines{"a (SAMSUNG SP2514N) : Detected size = 100 sectors",
                   "b (SAMSUNG SP2514N) : Detected size = 200 sectors",
                   "b (SAMSUNG SP2514N) : Logical sector size is 4096 bytes; the drive is used "
                   "in 512-byte sectors all the same",
                   "c (SAMSUNG SP2514N) : Detected size = 300 sectors"}));
  EXPECT_EQ(platform_.opens, 3);
  EXPECT_EQ(platform_.open_handles, 0);
  for (int i = 3; i < kMaxDrives; ++i)
    EXPECT_EQ(DriveTable[i].device_path, "");
}

}  // namespace
}  // namespace quillmar
