#include "base/command_line.h"

#include <gtest/gtest.h>

#include "base/build_info.h"
#include "base/settings.h"
#include "tests/support/param_names.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"
#include <ostream>

namespace quillmar {
namespace {

struct TailCase {
  const char* name;
  const char* tail;
  uint32_t limit;
  int32_t cluster;
  const char* note = nullptr;  // the run's log line after the version line, if any
};

class NumericTail : public ::testing::TestWithParam<TailCase> {
 protected:
  void SetUp() override { ResetSettings(); }
  void TearDown() override { ResetSettings(); }
};

TEST_P(NumericTail, ReadsTheTwoNumbers) {
  ApplyCommandLineTail(GetParam().tail);
  EXPECT_EQ(g_maxDriveSectors, GetParam().limit);
  EXPECT_EQ(g_mpegClusterOverride, GetParam().cluster);
  testing::TempDir dir;
  testing::ScriptedFrontEnd ui(true, dir.File("quillmar.log"));
  LogRunStart();
  // The version line, the note if any, then the limit line when there is a limit.
  std::vector<std::string> notes(ui.lines().begin() + 1, ui.lines().end());
  if (g_maxDriveSectors != kNoDriveSizeLimit)
    notes.pop_back();
  EXPECT_EQ(notes, GetParam().note ? std::vector<std::string>{GetParam().note}
                                   : std::vector<std::string>{});
}

constexpr uint32_t kLargest = 0xFFFFFFFFu;
constexpr const char* kLimitNote =
    "Drive size limit 4294967296 is out of range: taking the largest, 4294967295 sectors";

INSTANTIATE_TEST_SUITE_P(
    Cases, NumericTail,
    ::testing::Values(
        TailCase{"Empty", "", kNoDriveSizeLimit, 0},
        TailCase{"Zero", "0 262144", kNoDriveSizeLimit, 262144},
        TailCase{"LimitOnly", "267386880", 267386880u, 0},
        TailCase{"NoLimitValue", "2000000000", kNoDriveSizeLimit, 0},
        TailCase{"NotANumber", "abc 262144", kNoDriveSizeLimit, 262144},
        TailCase{"EmptyArgumentKeepsItsPlace", "\"\" 262144", kNoDriveSizeLimit, 262144},
        TailCase{"Tab", "267386880\t1024", 267386880u, 1024},
        TailCase{"ClusterNotMultipleOf512", "0 66000", kNoDriveSizeLimit, 66000},
        TailCase{"ThirdIgnored", "100 200 300", 100u, 200},
        TailCase{"LargestLimit", "4294967295 2147483647", kLargest, 2147483647},
        TailCase{"LimitAbove32Bits", "4294967296 1024", kLargest, 1024, kLimitNote},
        TailCase{"LimitAbove64Bits", "99999999999999999999", kLargest, 0,
                 "Drive size limit 99999999999999999999 is out of range: taking the largest, "
                 "4294967295 sectors"},
        TailCase{"NegativeLimit", "-1", kLargest, 0,
                 "Drive size limit -1 is out of range: taking the largest, 4294967295 sectors"},
        TailCase{"ClusterAbove31Bits", "0 2147483648", kNoDriveSizeLimit, 0,
                 "MPEG cluster size 2147483648 is out of range: ignored, no cluster size override"},
        TailCase{"NegativeCluster", "0 -4096", kNoDriveSizeLimit, -4096}),
    testing::ParamName());

TEST(CommandLine, QuotedProgramNameWithBlanksStillYieldsTheFirstNumber) {
  EXPECT_EQ(CommandLineTail("\"C:\\Program Files\\quillmar.exe\"  267386880 1024"),
            "267386880 1024");
  EXPECT_EQ(CommandLineTail("quillmar.exe\t\t5"), "5");
  EXPECT_EQ(CommandLineTail("quillmar.exe"), "");
}

TEST(CommandLine, DriveOptionsAreTakenOutBeforeTheNumbers) {
  StartupOptions o =
      SplitStartupArguments({"--drive", "old.img", "267386880", "--drive=new.img", "1024"});
  EXPECT_EQ(o.drive_paths, (std::vector<std::string>{"old.img", "new.img"}));
  EXPECT_EQ(o.tail, "267386880 1024");
  EXPECT_EQ(SplitStartupArguments({"", "262144", "a b"}).tail, "\"\" 262144 \"a b\"");
  const StartupOptions dashes = SplitStartupArguments({"-x", "-5", "-", "--bogus", "-h"});
  EXPECT_EQ(dashes.other_options, (std::vector<std::string>{"-x", "--bogus", "-h"}));
  EXPECT_EQ(dashes.tail, "-5 -");  // a number to atol, and no option
  EXPECT_FALSE(o.missing_drive_argument);
  EXPECT_TRUE(SplitStartupArguments({"--drive"}).missing_drive_argument);
}

}  // namespace
}  // namespace quillmar
