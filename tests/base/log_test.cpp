#include "base/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "base/log_file.h"
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

// What stands at the log file's path: each is refused, the list keeps every line, one warning
// says why (the line break in the file's name escaped), and a file a link points to is left
// alone.
struct UnwritableCase {
  const char* name;
  const char* cause;  // in the warning
  void (*plant)(const TempDir& dir, const std::string& log);
};

class UnwritableLogFile : public ::testing::TestWithParam<UnwritableCase> {};

TEST_P(UnwritableLogFile, KeepsTheListWarnsOnceAndTouchesNothing) {
  TempDir dir;
  const std::string log = dir.File("quill\nmar.log");
  std::ofstream(dir.File("drive.img")) << "image";
  GetParam().plant(dir, log);
  ScriptedFrontEnd ui(true, log);
  const bool drop_root = ::geteuid() == 0 && std::string(GetParam().name) == "ReadOnlyFile";
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_TRUE(!drop_root || ::seteuid(65534) == 0);  // root writes any file; nobody cannot
  LogLine("one");
  LogLine("two");
  ASSERT_TRUE(!drop_root || ::seteuid(0) == 0);
  ASSERT_EQ(ui.lines().size(), 3u) << ui.Transcript();
  EXPECT_EQ(ui.lines()[1], "*** WARNING: The log file " + dir.File("quill\\x0amar.log") +
                               " cannot be written (" + GetParam().cause +
                               "); this run's lines are not saved.");
  EXPECT_EQ(ui.lines()[2], "two");
  EXPECT_EQ(ReadFile(dir.File("drive.img")), "image");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnwritableLogFile,
    ::testing::Values(UnwritableCase{"LinkToADriveImage", "it is a symbolic link",
                                     [](const TempDir& d, const std::string& log) {
                                       ASSERT_EQ(
                                           ::symlink(d.File("drive.img").c_str(), log.c_str()), 0);
                                     }},
                      UnwritableCase{"DanglingLink", "it is a symbolic link",
                                     [](const TempDir& d, const std::string& log) {
                                       ASSERT_EQ(::symlink(d.File("gone").c_str(), log.c_str()), 0);
                                     }},
                      UnwritableCase{"Folder", "it is a folder",
                                     [](const TempDir&, const std::string& log) {
                                       ASSERT_EQ(::mkdir(log.c_str(), 0755), 0);
                                     }},
                      UnwritableCase{"ReadOnlyFile", "Permission denied",
                                     [](const TempDir&, const std::string& log) {
                                       std::ofstream(log) << "";
                                       ASSERT_EQ(::chmod(log.c_str(), 0444), 0);
                                     }}),
    [](const ::testing::TestParamInfo<UnwritableCase>& row) { return row.param.name; });

TEST(LogFilePlace, TheCurrentFolderWhenWritableElseTheStateFolder) {
  struct Row {
    LogPlace place;
    const char* expected;
  };
  const Row rows[] = {
      {{"/home/ann/disks", true, "", "/home/ann"}, "/home/ann/disks/quillmar.log"},
      {{"/home/ann/disks", false, "", "/home/ann"}, "/home/ann/.local/state/quillmar/quillmar.log"},
      {{"/", true, "", "/home/ann"}, "/home/ann/.local/state/quillmar/quillmar.log"},
      {{"/", true, "/var/ann", "/home/ann"}, "/var/ann/quillmar/quillmar.log"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(ChooseLogFilePath(row.place), row.expected) << row.place.cwd;
}

// Below the home, a link among the folders (one the home's user planted, while the run is root's)
// is refused like a link at the file's place.
TEST(LogFacility, TheDefaultPlaceGetsItsFoldersMadeButNeverThroughALink) {
  const std::string home = std::getenv("HOME") == nullptr ? "" : std::getenv("HOME");
  for (bool planted : {false, true}) {
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.File("elsewhere").c_str(), 0755), 0);
    ASSERT_TRUE(!planted || ::symlink("elsewhere", dir.File(".local").c_str()) == 0);
    ScriptedFrontEnd ui(true);
    ASSERT_EQ(::setenv("HOME", dir.path().c_str(), 1), 0);
    ::unsetenv("XDG_STATE_HOME");
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir("/"), 0);
    const std::string path = SetUpLogFile("");
    ASSERT_EQ(::chdir(cwd), 0);
    ::setenv("HOME", home.c_str(), 1);
    EXPECT_EQ(path, dir.File(".local/state/quillmar/quillmar.log"));
    LogLine("from the menu");
    EXPECT_EQ(ReadFile(path), planted ? "" : "from the menu\n");
    EXPECT_EQ(ui.lines().back().find("(it is a symbolic link)") != std::string::npos, planted)
        << ui.Transcript();
  }
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
