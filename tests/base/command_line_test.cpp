#include "base/command_line.h"

#include <gtest/gtest.h>

#include <ostream>

#include "base/settings.h"

namespace quillmar {
namespace {

struct TailCase {
  const char* tail;
  uint32_t limit;
  int32_t cluster;
};

void PrintTo(const TailCase& c, std::ostream* os) { *os << '"' << c.tail << '"'; }

class NumericTail : public ::testing::TestWithParam<TailCase> {
 protected:
  void SetUp() override { ResetSettings(); }
  void TearDown() override { ResetSettings(); }
};

TEST_P(NumericTail, ReadsTheTwoNumbers) {
  ApplyCommandLineTail(GetParam().tail);
  EXPECT_EQ(g_maxDriveSectors, GetParam().limit);
  EXPECT_EQ(g_mpegClusterOverride, GetParam().cluster);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NumericTail,
    ::testing::Values(TailCase{"", kNoDriveSizeLimit, 0},
                      TailCase{"0 262144", kNoDriveSizeLimit, 262144},
                      TailCase{"267386880", 267386880u, 0},
                      TailCase{"2000000000", kNoDriveSizeLimit, 0},
                      TailCase{"abc 262144", kNoDriveSizeLimit, 262144},
                      TailCase{"267386880\t1024", 267386880u, 1024},
                      TailCase{"0 66000", kNoDriveSizeLimit, 66000},
                      TailCase{"100 200 300", 100u, 200},
                      TailCase{"-1", 0xFFFFFFFFu, 0}));

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
  EXPECT_FALSE(o.missing_drive_argument);
  EXPECT_TRUE(SplitStartupArguments({"--drive"}).missing_drive_argument);
}

}  // namespace
}  // namespace quillmar
