// The argument parser of quillmar-cli, in the test's own process.
#include <gtest/gtest.h>

#include "cli/cli_arguments.h"

namespace quillmar {
namespace {

using cli::ParseCliArguments;

TEST(CliArguments, RefusedLinesNameTheirCause) {
  const std::pair<std::vector<std::string>, const char*> rows[] = {
      {{"frobnicate", "--help"}, "unknown command 'frobnicate'"},
      {{"list", "--wipe"}, "unknown option '--wipe'"},
      {{"list", "--force"}, "--force does not apply to 'list'"},
      {{"mirror", "0", "1", "--mpeg", "keep"}, "--mpeg does not apply to 'mirror'"},
      {{"inspect", "0", "--json"}, "--json does not apply"},
      {{"undo", "u", "--undo-limit", "1M"}, "--undo-limit takes"},
      {{"mirror", "0", "1", "--undo-limit", "9"}, "with --undo FILE only"},
      {{"verify", "0", "1", "disk"}, "system, mpeg, photo or all"},
      {{"mirror", "0"}, "missing TARGET"},
      {{"list", "0"}, "unexpected argument '0'"},
      {{"patch", "16"}, "drive index from 0 to 15"},
      {{"patch", "-1"}, "unknown option '-1'"},
      {{"patch", "0", "--mpeg", "wipe"}, "keep, reset or reformat"},
      {{"patch", "0", "--mpeg"}, "needs a value"},
      {{"patch", "0", "--format-photo", "maybe"}, "yes or no"},
      {{"--limit", "4294967296", "list"}, "--limit takes"},
      {{"backup", "0", ""}, "must not be empty"},
      {{"join", "2", "2"}, "two different drives"},
      {{"list", "--log="}, "--log needs a file"},
  };
  for (const auto& [args, cause] : rows) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_NE(ParseCliArguments(args).error.find(cause), std::string::npos);
  }
}

TEST(CliArguments, AcceptedLinesFillTheRequest) {
  cli::ParseResult r =
      ParseCliArguments({"--drive", "a.img", "-y", "mirror", "0", "--drive=b.img", "1", "--limit",
                         "267386880", "--cluster=66000", "-q", "--log", "run.log", "--undo",
                         "u.qun", "--undo-limit=8", "--verify"});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.request.drive_paths, (std::vector<std::string>{"a.img", "b.img"}));
  EXPECT_EQ(r.request.drives, (std::vector<int>{0, 1}));
  EXPECT_TRUE(r.request.yes && r.request.quiet && r.request.verify && r.request.undo_limit == 8u);
  EXPECT_EQ(r.request.log_path + " " + r.request.undo_file, "run.log u.qun");
  EXPECT_EQ(cli::StartupTail(r.request), "267386880 66000");  // the window's two numbers
  r = ParseCliArguments(
      {"patch", "3", "--photo", "20gb", "--mpeg=Reformat", "--format-photo", "Y"});
  EXPECT_EQ(r.request.photo_sectors, 39062528u);
  EXPECT_TRUE(r.request.mpeg == cli::MpegChoice::kReformat && r.request.format_photo == true);
  r = ParseCliArguments({"join", "0", "1", "--mpeg", "RESET", "--photo", "No change"});
  EXPECT_TRUE(r.request.mpeg == cli::MpegChoice::kReset && !r.request.format_photo);
  EXPECT_EQ(r.request.photo_sectors, 0u);
  r = ParseCliArguments({"restore", "--reset", "no", "--", "-odd.rtv", "4"});
  EXPECT_TRUE(r.request.path == "-odd.rtv" && r.request.drives.at(0) == 4 &&
              r.request.reset == false);
  EXPECT_EQ(ParseCliArguments({"verify", "0", "1", "MPEG"}).request.ranges, "mpeg");
  r = ParseCliArguments({"patch", "--help"});  // the rest of the line may be missing
  EXPECT_TRUE(r.ok() && r.request.help && r.request.command == cli::Command::kPatch);
}

}  // namespace
}  // namespace quillmar
