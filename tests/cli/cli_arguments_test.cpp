#include "cli/cli_arguments.h"

#include <gtest/gtest.h>

#include "base/command_line.h"
#include "base/settings.h"
#include "tests/support/param_names.h"

namespace quillmar {
namespace {

using cli::Command;
using cli::MpegChoice;
using cli::ParseCliArguments;
using cli::ParseResult;

TEST(CliArguments, GlobalOptionsGoBeforeOrAfterTheCommand) {
  ParseResult r =
      ParseCliArguments({"--drive", "old.img", "--yes", "mirror", "0", "--drive=new.img", "1",
                         "--limit", "267386880", "-q", "--log", "run.log"});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.request.command, Command::kMirror);
  EXPECT_EQ(r.request.drive_paths, (std::vector<std::string>{"old.img", "new.img"}));
  EXPECT_EQ(r.request.drives, (std::vector<int>{0, 1}));
  EXPECT_TRUE(r.request.yes);
  EXPECT_EQ(r.request.limit_sectors, 267386880u);
  EXPECT_FALSE(r.request.cluster_bytes.has_value());
  EXPECT_TRUE(r.request.quiet);
  EXPECT_EQ(r.request.log_path, "run.log");
}

TEST(CliArguments, PatchFlagsSetTheAnswers) {
  ParseResult r = ParseCliArguments(
      {"patch", "3", "--photo", "100MB", "--mpeg=reformat", "--format-photo", "YES"});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.request.drives, (std::vector<int>{3}));
  EXPECT_EQ(r.request.photo_sectors, 204800u);
  EXPECT_EQ(r.request.mpeg, MpegChoice::kReformat);
  EXPECT_EQ(r.request.format_photo, true);
  EXPECT_FALSE(r.request.reset.has_value());
}

TEST(CliArguments, WithoutFlagsTheQuestionsStayOpen) {
  ParseResult r = ParseCliArguments({"join", "0", "1"});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.request.mpeg, MpegChoice::kAsk);
  EXPECT_FALSE(r.request.format_photo.has_value());
  EXPECT_EQ(r.request.photo_sectors, 0u);
  EXPECT_FALSE(r.request.yes);
}

TEST(CliArguments, FileOperandsKeepTheirPlace) {
  ParseResult backup = ParseCliArguments({"backup", "2", "sys.rtv"});
  ASSERT_TRUE(backup.ok()) << backup.error;
  EXPECT_EQ(backup.request.drives, (std::vector<int>{2}));
  EXPECT_EQ(backup.request.path, "sys.rtv");

  ParseResult restore = ParseCliArguments({"restore", "--reset", "no", "--", "-odd.rtv", "4"});
  ASSERT_TRUE(restore.ok()) << restore.error;
  EXPECT_EQ(restore.request.path, "-odd.rtv");
  EXPECT_EQ(restore.request.drives, (std::vector<int>{4}));
  EXPECT_EQ(restore.request.reset, false);
}

TEST(CliArguments, SafetyNetsAreTaken) {
  ParseResult r = ParseCliArguments(
      {"--undo", "u.qun", "restore", "f.rtv", "1", "--undo-limit=4096", "--verify"});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.request.undo_file, "u.qun");
  EXPECT_EQ(r.request.undo_limit, 4096u);
  EXPECT_TRUE(r.request.verify);
  EXPECT_EQ(r.request.path, "f.rtv");
  ParseResult v = ParseCliArguments({"verify", "0", "1", "MPEG"});
  ASSERT_TRUE(v.ok()) << v.error;
  EXPECT_EQ(v.request.ranges, "mpeg");
  EXPECT_EQ(ParseCliArguments({"undo", "u.qun", "--force"}).request.force, true);
}

struct ValueCase {
  std::vector<std::string> args;  // after "patch 0"
  uint32_t photo_sectors;
  MpegChoice mpeg;
};

class OptionValue : public ::testing::TestWithParam<ValueCase> {};

// The Photo sizes are the window's texts, in any case; the MPEG choices are named.
TEST_P(OptionValue, IsTaken) {
  std::vector<std::string> args = {"patch", "0"};
  args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
  ParseResult r = ParseCliArguments(args);
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.request.photo_sectors, GetParam().photo_sectors);
  EXPECT_EQ(r.request.mpeg, GetParam().mpeg);
}

INSTANTIATE_TEST_SUITE_P(
    Values, OptionValue,
    ::testing::Values(ValueCase{{"--photo", "No change"}, 0, MpegChoice::kAsk},
                      ValueCase{{"--photo", "no change"}, 0, MpegChoice::kAsk},
                      ValueCase{{"--photo", "1MB"}, 2048, MpegChoice::kAsk},
                      ValueCase{{"--photo", "4GB"}, 7812608, MpegChoice::kAsk},
                      ValueCase{{"--photo", "20gb"}, 39062528, MpegChoice::kAsk},
                      ValueCase{{"--mpeg", "keep"}, 0, MpegChoice::kKeep},
                      ValueCase{{"--mpeg", "reset"}, 0, MpegChoice::kReset},
                      ValueCase{{"--mpeg", "Reformat"}, 0, MpegChoice::kReformat}),
    testing::WordsName());

struct BadLine {
  std::vector<std::string> args;
  const char* fragment;  // part of the error message
};

class UsageError : public ::testing::TestWithParam<BadLine> {};

TEST_P(UsageError, IsReportedWithItsCause) {
  ParseResult r = ParseCliArguments(GetParam().args);
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.error.find(GetParam().fragment), std::string::npos) << r.error;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, UsageError,
    ::testing::Values(BadLine{{}, "no command"}, BadLine{{"--yes"}, "no command"},
                      BadLine{{"format", "0"}, "unknown command 'format'"},
                      BadLine{{"list", "--wipe"}, "unknown option '--wipe'"},
                      BadLine{{"list", "--force"}, "--force does not apply to 'list'"},
                      BadLine{{"patch", "0", "--verify"}, "--verify does not apply to 'patch'"},
                      BadLine{{"backup", "0", "f", "--undo", "u"}, "--undo does not apply"},
                      BadLine{{"undo", "u", "--undo-limit", "1M"}, "--undo-limit takes"},
                      BadLine{{"mirror", "0", "1", "--undo-limit", "9"}, "with --undo FILE only"},
                      BadLine{{"verify", "0", "1", "disk"}, "system, mpeg, photo or all"},
                      BadLine{{"mirror", "0"}, "missing TARGET"},
                      BadLine{{"inspect"}, "missing DRIVE"},
                      BadLine{{"list", "0"}, "unexpected argument '0'"},
                      BadLine{{"patch", "16"}, "drive index from 0 to 15"},
                      BadLine{{"patch", "-1"}, "unknown option '-1'"},
                      BadLine{{"patch", "1x"}, "drive index"},
                      BadLine{{"patch", "0", "--mpeg", "wipe"}, "keep, reset or reformat"},
                      BadLine{{"patch", "0", "--mpeg"}, "needs a value"},
                      BadLine{{"patch", "0", "--photo", "3MB"}, "Photo partition size"},
                      BadLine{{"patch", "0", "--format-photo", "maybe"}, "yes or no"},
                      BadLine{{"mirror", "0", "1", "--mpeg", "keep"}, "does not apply to 'mirror'"},
                      BadLine{{"patch", "0", "--reset", "yes"}, "does not apply to 'patch'"},
                      BadLine{{"restore", "f.rtv", "1", "--photo", "1MB"}, "does not apply"},
                      BadLine{{"--limit", "abc", "list"}, "--limit"},
                      BadLine{{"--limit", "4294967296", "list"}, "--limit"},
                      BadLine{{"--cluster", "-5", "list"}, "--cluster"},
                      BadLine{{"--cluster", "2147483648", "list"}, "--cluster"},
                      BadLine{{"list", "--drive"}, "needs a value"},
                      BadLine{{"backup", "0", ""}, "must not be empty"},
                      BadLine{{"join", "2", "2"}, "two different drives"},
                      BadLine{{"inspect", "0", "--json"}, "--json does not apply to 'inspect'"},
                      BadLine{{"list", "--log="}, "--log needs a file"}),
    testing::WordsName());

TEST(CliArguments, HelpNamesTheCommandEvenWhenTheRestIsIncomplete) {
  ParseResult r = ParseCliArguments({"patch", "--help"});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_TRUE(r.request.help);
  EXPECT_EQ(r.request.command, Command::kPatch);

  ParseResult general = ParseCliArguments({"-h"});
  ASSERT_TRUE(general.ok());
  EXPECT_EQ(general.request.command, Command::kNone);

  EXPECT_FALSE(ParseCliArguments({"frobnicate", "--help"}).ok());
  EXPECT_TRUE(ParseCliArguments({"--version"}).request.version);
  EXPECT_TRUE(ParseCliArguments({"--version"}).ok());
}

struct TailCase {
  std::vector<std::string> args;
  uint32_t limit;
  int32_t cluster;
};

class NumbersOfTheWindow : public ::testing::TestWithParam<TailCase> {
 protected:
  void SetUp() override { ResetSettings(); }
  void TearDown() override { ResetSettings(); }
};

// --limit and --cluster end up exactly where the window's two numbers do.
TEST_P(NumbersOfTheWindow, ReachTheSettings) {
  ParseResult r = ParseCliArguments(GetParam().args);
  ASSERT_TRUE(r.ok()) << r.error;
  ApplyCommandLineTail(cli::StartupTail(r.request));
  EXPECT_EQ(g_maxDriveSectors, GetParam().limit);
  EXPECT_EQ(g_mpegClusterOverride, GetParam().cluster);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NumbersOfTheWindow,
    ::testing::Values(TailCase{{"list"}, kNoDriveSizeLimit, 0},
                      TailCase{{"--limit", "0", "list"}, kNoDriveSizeLimit, 0},
                      TailCase{
                          {"--cluster=66000", "--limit=4294967295", "list"}, 4294967295u, 66000}),
    testing::WordsName());

}  // namespace
}  // namespace quillmar
