#include "cli/terminal_front_end.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "disk/copy_stop.h"
#include "tests/cli/memory_stream.h"

namespace quillmar {
namespace {

using cli::AnswerPolicy;
using cli::TerminalFrontEnd;
using testing::MemoryStream;

struct Streams {
  explicit Streams(const std::string& typed = "") : in(typed) {}
  MemoryStream out;
  MemoryStream err;
  MemoryStream in;
};

TEST(TerminalFrontEnd, BoxesShowCaptionAndTextWithItsLinesAligned) {
  EXPECT_EQ(cli::RenderBox("Done", "Patch complete"), "[Done] Patch complete\n");
  EXPECT_EQ(cli::RenderBox("Copy Complete", "NOTE: one\n      two"),
            "[Copy Complete] NOTE: one\n"
            "                      two\n");
}

// Standard output is left to the results; --quiet keeps all but the problem lines off: errors,
// warnings, a failed or stopped copy, drives that need root.
TEST(TerminalFrontEnd, LogLinesAndBoxesGoToStandardErrorQuietKeepsOnlyProblemLines) {
  for (bool quiet : {false, true}) {
    Streams s;
    TerminalFrontEnd front_end(AnswerPolicy{}, s.out.get(), s.err.get(), s.in.get(), nullptr);
    front_end.SetQuiet(quiet);
    front_end.AddLogLine("***** Patching partition block...");
    front_end.AddLogLine("*** ERROR: reading block 0");
    front_end.AddLogLine("*** WARNING: The log file x cannot be written");
    std::string problems;
    for (const char* line : {"ERROR: Failed to write block 8 to target - copy aborted",
                             "*** Copy interrupted at block 9",
                             "Some drives could not be opened: permission denied. Raw drive "
                             "access needs root"}) {
      front_end.AddLogLine(line);
      problems += std::string(line) + "\n";
    }
    front_end.ShowMessage("You must select a disk first.", "*** ERROR ***");
    EXPECT_EQ(s.err.Text(), std::string(quiet ? "" : "***** Patching partition block...\n") +
                                "*** ERROR: reading block 0\n*** WARNING: The log file x cannot "
                                "be written\n" +
                                problems + "[*** ERROR ***] You must select a disk first.\n");
    EXPECT_EQ(s.out.Text(), "");
  }
}

struct AnswerCase {
  const char* name;
  bool yes_flag;
  bool terminal;
  const char* typed;
  const char* caption;
  int expected;
  bool unanswered;
};

class QuestionAnswer : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(QuestionAnswer, ComesFromTheRightSource) {
  const AnswerCase& c = GetParam();
  Streams s(c.typed);
  AnswerPolicy policy;
  policy.yes_to_confirmations = c.yes_flag;
  policy.terminal = c.terminal;
  policy.presets["Reformat photo partition"] = {false, "--format-photo no"};
  TerminalFrontEnd front_end(policy, s.out.get(), s.err.get(), s.in.get(), nullptr);
  EXPECT_EQ(front_end.AskYesNo("Question text\nsecond line", c.caption), c.expected);
  EXPECT_EQ(front_end.unanswered(), c.unanswered);
  std::string err = s.err.Text();
  EXPECT_NE(err.find(std::string("[") + c.caption + "] Question text\n"), std::string::npos) << err;
  EXPECT_EQ(s.out.Text(), "");  // questions are not part of the log
}

INSTANTIATE_TEST_SUITE_P(
    Sources, QuestionAnswer,
    ::testing::Values(
        AnswerCase{"YesFlagConfirms", true, false, "", "Proceed?", kIdYes, false},
        AnswerCase{"YesFlagAnswersWarnings", true, false, "", "Warning", kIdYes, false},
        AnswerCase{"YesFlagDoesNotChooseAReset", true, false, "", "Reset MPEG partition", kIdNo,
                   true},
        AnswerCase{"YesFlagDoesNotChooseTheRestoreReset", true, false, "", "Reset MPEG partition?",
                   kIdNo, true},
        AnswerCase{"FlagBeatsYes", true, true, "y\n", "Reformat photo partition", kIdNo, false},
        AnswerCase{"NoTerminalNoAnswer", false, false, "y\n", "Proceed?", kIdNo, true},
        AnswerCase{"TypedY", false, true, "y\n", "Proceed?", kIdYes, false},
        AnswerCase{"TypedYesWithBlanks", false, true, "  Yes \n", "Proceed?", kIdYes, false},
        AnswerCase{"TypedNo", false, true, "n\n", "Proceed?", kIdNo, false},
        AnswerCase{"TypedSomethingElse", false, true, "yeah\n", "Proceed?", kIdNo, false},
        AnswerCase{"JustEnter", false, true, "\n", "Proceed?", kIdNo, false},
        AnswerCase{"EndOfInput", false, true, "", "Proceed?", kIdNo, false},
        AnswerCase{"TerminalChoosesTheReset", false, true, "y\n", "Reset MPEG partition", kIdYes,
                   false}),
    [](const ::testing::TestParamInfo<AnswerCase>& case_info) { return case_info.param.name; });

TEST(TerminalFrontEnd, TypedAnswersAreTakenInTurn) {
  Streams s("y\nno\n");
  AnswerPolicy policy;
  policy.terminal = true;
  TerminalFrontEnd front_end(policy, s.out.get(), s.err.get(), s.in.get(), nullptr);
  EXPECT_EQ(front_end.AskWindowYesNo("first", "Warning"), kIdYes);
  EXPECT_EQ(front_end.AskYesNo("second", "Proceed?"), kIdNo);
  EXPECT_EQ(front_end.AskYesNo("third", "Proceed?"), kIdNo);  // end of input
}

// Declining everything, or a stop (Ctrl-C) requested, overrides the flags, --yes and the terminal.
TEST(TerminalFrontEnd, DecliningEverythingOrAStopOverridesFlagsAndYes) {
  for (bool stop : {false, true}) {
    Streams s("y\ny\n");
    AnswerPolicy policy;
    policy.yes_to_confirmations = true;
    policy.terminal = true;
    policy.presets["Reset MPEG partition"] = {true, "--mpeg reset"};
    TerminalFrontEnd front_end(policy, s.out.get(), s.err.get(), s.in.get(), nullptr);
    stop ? RequestCopyStop() : front_end.DeclineEverything();
    EXPECT_EQ(front_end.AskYesNo("x", "Proceed?"), kIdNo);
    EXPECT_EQ(front_end.AskYesNo("x", "Reset MPEG partition"), kIdNo);
    EXPECT_EQ(front_end.AskYesNo("x", "Reformat MPEG partition"), kIdNo);
    EXPECT_EQ(front_end.unanswered(), !stop);
    ClearCopyStop();
  }
}

struct FileCase {
  const char* name;
  bool save;
  std::string file;  // OLD names an existing file, NEW and GONE files that are not there
  bool yes;
  bool chosen;
  std::string said;  // part of standard error ("" for nothing in particular)
  int unanswered;    // -1: either
};

class FileChoice : public ::testing::TestWithParam<FileCase> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillmar-cli-choice-XXXXXX";
    int fd = ::mkstemp(pattern);
    ASSERT_GE(fd, 0);
    ::close(fd);
    existing_ = pattern;
  }
  void TearDown() override { std::remove(existing_.c_str()); }

  std::string Named(std::string text) const {
    for (const auto& [name, path] : {std::pair<std::string, std::string>{"OLD", existing_},
                                     {"NEW", existing_ + ".new"},
                                     {"GONE", existing_ + ".missing"}}) {
      if (size_t at = text.find(name); at != std::string::npos)
        text.replace(at, name.size(), path);
    }
    return text;
  }

  std::string existing_;
};

TEST_P(FileChoice, TheFileArgumentIsChosenWhenItFits) {
  const FileCase& c = GetParam();
  Streams s;
  AnswerPolicy policy;
  policy.file = Named(c.file);
  policy.yes_to_confirmations = c.yes;
  TerminalFrontEnd front_end(policy, s.out.get(), s.err.get(), s.in.get(), nullptr);
  FileChoiceRequest request;
  request.save = c.save;
  request.title = c.save ? "Select backup file name" : "Select file to restore from";
  request.default_extension = "rtv";
  std::string path;
  EXPECT_EQ(front_end.ChooseFile(request, &path), c.chosen);
  if (c.chosen) {
    EXPECT_EQ(path, policy.file);
  }
  const std::string err = s.err.Text();
  EXPECT_NE(err.find(Named(c.said)), std::string::npos) << err;
  EXPECT_EQ(err.find("already exists") != std::string::npos, c.save && c.file == "OLD") << err;
  if (c.unanswered >= 0) {
    EXPECT_EQ(front_end.unanswered(), c.unanswered == 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileChoice,
    ::testing::Values(FileCase{"NewFileToSave", true, "NEW", false, true, "", 0},
                      FileCase{"ReplacingNeedsYes", true, "OLD", false, false,
                               "[Select backup file name] OLD already exists.\n", 1},
                      FileCase{"ReplacingWithYes", true, "OLD", true, true,
                               "[Select backup file name] OLD already exists.\n", 0},
                      FileCase{"RestoreFromAnExistingFile", false, "OLD", true, true, "", 0},
                      FileCase{"RestoreFromAMissingFile", false, "GONE", true, false, "", -1},
                      FileCase{"FolderToSave", true, "/tmp", true, false,
                               "/tmp\nis a folder, not a file.\n", -1},
                      FileCase{"FolderToOpen", false, "/tmp", true, false,
                               "/tmp\nis a folder, not a file.\n", -1}),
    [](const ::testing::TestParamInfo<FileCase>& case_info) { return case_info.param.name; });

}  // namespace
}  // namespace quillmar
