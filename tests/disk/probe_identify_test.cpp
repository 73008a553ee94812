// The probe's identity path: pass-through, IDENTIFY, the model text, and which IDENTIFY counts
// are believed.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/disk/probe_fake_platform.h"

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
                      CountCase{1, {"fake0 (ST3300622A) : Detected size = 1 sectors"}, 0, 1}));

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
                           "drive size"}}));

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
                                           ModelCase{"Odd", "Odd"}));

}  // namespace
}  // namespace quillmar
