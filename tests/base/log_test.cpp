#include "base/log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

using testing::ScriptedFrontEnd;
using testing::TempDir;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(LogFacility, NothingIsRecordedBeforeTheWindowRegistersButBoxesStillShow) {
  TempDir dir;
  std::string log = dir.File("quillmar.log");
  ScriptedFrontEnd ui(/*register_window=*/false, log);
  LogLine("early line");
  LogAndShow("early error", "*** ERROR ***");
  ProgressBegin();
  ProgressSetPos(5);
  ProgressEnd();
  EXPECT_TRUE(ui.lines().empty());
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].text, "early error");
  EXPECT_EQ(ui.progress_shown(), 0);
  EXPECT_TRUE(ui.progress().empty());
  EXPECT_FALSE(std::ifstream(log).good()) << "the log file must not even be created";

  RegisterLogWindow();
  LogLine("late line");
  EXPECT_EQ(ui.lines(), std::vector<std::string>{"late line"});
  EXPECT_EQ(ReadFile(log), "late line\n");
}

TEST(LogFacility, MultiLineTextIsOneEntryAndSeveralFileLines) {
  TempDir dir;
  ScriptedFrontEnd ui(true, dir.File("quillmar.log"));
  LogLine("first\nsecond\nthird");
  ASSERT_EQ(ui.lines().size(), 1u);
  EXPECT_EQ(ui.lines()[0], "first\nsecond\nthird");
  EXPECT_EQ(ReadFile(dir.File("quillmar.log")), "first\nsecond\nthird\n");
}

TEST(LogFacility, TwoRunsAppendToTheSameFileAndEveryLineIsFlushed) {
  TempDir dir;
  std::string log = dir.File("quillmar.log");
  {
    ScriptedFrontEnd run1(true, log);
    LogLine("run 1 line");
    // Flushed at once: a crash here would keep it.
    EXPECT_EQ(ReadFile(log), "run 1 line\n");
  }
  {
    ScriptedFrontEnd run2(true, log);
    LogLine("run 2 line");
  }
  EXPECT_EQ(ReadFile(log), "run 1 line\nrun 2 line\n");
}

TEST(LogFacility, UnwritableLogFileKeepsTheListAndRetries) {
  TempDir dir;
  ScriptedFrontEnd ui(true, dir.File("missing-folder/quillmar.log"));
  LogLine("one");
  LogLine("two");
  EXPECT_EQ(ui.lines().size(), 2u);
}

TEST(LogFacility, LogAndShowLogsBeforeTheBoxAppears) {
  TempDir dir;
  ScriptedFrontEnd ui(true, dir.File("quillmar.log"));
  LogAndShow("*** ERROR writing block", "*** ERROR ***");
  ASSERT_EQ(ui.lines().size(), 1u);
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].caption, "*** ERROR ***");
  EXPECT_EQ(ui.boxes()[0].text, ui.lines()[0]);
}

TEST(LogFacility, ConfirmProceedBuildsItsQuestionAndOnlyYesCounts) {
  TempDir dir;
  ScriptedFrontEnd ui(true, dir.File("quillmar.log"));
  ui.AnswerAll({true, false});
  EXPECT_TRUE(ConfirmProceed("Source disk is BIGGER THAN Target disk."));
  EXPECT_FALSE(ConfirmProceed("Source disk is BIGGER THAN Target disk."));
  ASSERT_EQ(ui.questions().size(), 2u);
  EXPECT_EQ(ui.questions()[0].text,
            "Source disk is BIGGER THAN Target disk.\nDo you really want to proceed?");
  EXPECT_EQ(ui.questions()[0].caption, "Proceed?");
  EXPECT_TRUE(ui.lines().empty()) << "questions are not logged";
}

TEST(LogFacility, NobodyToAskMeansNo) {
  ResetLogFacility();
  EXPECT_EQ(AskYesNo("Reset?", "Reset MPEG partition"), kIdNo);
  EXPECT_FALSE(ConfirmProceed("anything"));
  std::string path;
  EXPECT_FALSE(ChooseFile(FileChoiceRequest{}, &path));
}

TEST(LogFacility, ProgressStartsAtZeroAgainAfterAnEnd) {
  TempDir dir;
  ScriptedFrontEnd ui(true, dir.File("quillmar.log"));
  ProgressBegin();
  ProgressSetPos(40);
  ProgressEnd();
  EXPECT_FALSE(ui.progress_visible());
  ProgressBegin();
  EXPECT_TRUE(ui.progress_visible());
  EXPECT_EQ(ui.progress(), (std::vector<int>{0, 40, 0}));
}

}  // namespace
}  // namespace quillmar
