// The parts of quillmar-cli in the test's own process: the argument parser and the answers to
// the questions.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "cli/cli_arguments.h"
#include "cli/terminal_front_end.h"
#include "disk/copy_stop.h"

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

// Lines typed at the questions, and what the front-end writes on standard error.
struct Streams {
  explicit Streams(const char* typed = "")
      : in(fmemopen(const_cast<char*>(typed), std::strlen(typed), "r")) {}
  ~Streams() {
    std::fclose(in);
    std::fclose(err);
    std::free(text);
  }
  std::string Err() { return std::fflush(err) == 0 ? std::string(text, size) : "?"; }
  std::FILE* in;
  char* text = nullptr;
  size_t size = 0;
  std::FILE* err = open_memstream(&text, &size);
};

// On a terminal each question reads one line, and only "y" or "yes" consents. A flag answers its
// question, --yes a confirmation but not a choice; after a stop (Ctrl-C) or once a question has
// no answer, every answer is No.
TEST(TerminalFrontEnd, AnswersComeFromAFlagYesOrOneTypedLine) {
  Streams s("  Yes \n\nyeah\nn\n");
  cli::AnswerPolicy policy;
  policy.yes_to_confirmations = policy.terminal = true;
  policy.presets[cli::kResetCaption] = {true, "--mpeg reset"};
  cli::TerminalFrontEnd front_end(policy, nullptr, s.err, s.in, nullptr);
  for (int answer : {kIdYes, kIdNo, kIdNo, kIdNo, kIdNo})  // the last one meets the end of input
    EXPECT_EQ(front_end.AskYesNo("choice", cli::kReformatCaption), answer);
  EXPECT_EQ(front_end.AskYesNo("flag", cli::kResetCaption), kIdYes);
  EXPECT_EQ(front_end.AskWindowYesNo("confirmation", "Warning"), kIdYes);
  EXPECT_NE(s.Err().find("[Reformat MPEG partition] choice\n  Yes or No? [y/N] "),
            std::string::npos);
  EXPECT_FALSE(front_end.unanswered());
  for (bool stop : {true, false}) {
    stop ? RequestCopyStop() : front_end.DeclineEverything();
    for (const char* caption : {"Warning", cli::kResetCaption, cli::kReformatCaption})
      EXPECT_EQ(front_end.AskYesNo("x", caption), kIdNo) << caption;
    EXPECT_EQ(front_end.unanswered(), !stop);
    ClearCopyStop();
  }
}

// --quiet keeps log lines but problems off the terminal; boxes still show.
TEST(TerminalFrontEnd, QuietShowsOnlyProblemLinesAndBoxes) {
  Streams s;
  cli::TerminalFrontEnd front_end({}, nullptr, s.err, s.in, nullptr);
  front_end.SetQuiet(true);
  for (const char* line : {"*** ERROR: a", "progress", "ERROR: b", "*** Copy interrupted at 9"})
    front_end.AddLogLine(line);
  front_end.ShowMessage("one\ntwo", "Done");
  EXPECT_EQ(s.Err(), "*** ERROR: a\nERROR: b\n*** Copy interrupted at 9\n[Done] one\n       two\n");
}

}  // namespace
}  // namespace quillmar
