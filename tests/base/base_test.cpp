// The base layer: byte orders, the start-up command line, the log file and the questions.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <tuple>

#include "base/byte_order.h"
#include "base/command_line.h"
#include "base/log.h"
#include "base/log_file.h"
#include "base/settings.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

TEST(ByteOrder, EveryAccessorWithAKnownValueAndTheRtv4000Order) {
  const Bytes known = {0xEE, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xEE};
  EXPECT_EQ(GetBe16(known, 1), 0x0123);
  EXPECT_EQ(GetBe32(known, 1), 0x01234567u);
  EXPECT_EQ(GetBe64(known, 1), 0x0123456789ABCDEFu);
  EXPECT_EQ(GetLe16(known, 1), 0x2301);
  EXPECT_EQ(GetLe32(known, 1), 0x67452301u);
  Bytes be16(10, 0xEE), be32 = be16, be64 = be16, le32 = be16;
  PutBe16(be16, 1, 0x0123);
  PutBe32(be32, 1, 0x01234567u);
  PutBe64(be64, 1, 0x0123456789ABCDEFu);
  PutLe32(le32, 1, 0x67452301u);
  EXPECT_EQ(be16, (Bytes{0xEE, 0x01, 0x23, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
  EXPECT_EQ(be32, (Bytes{0xEE, 0x01, 0x23, 0x45, 0x67, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
  EXPECT_EQ(le32, be32);
  EXPECT_EQ(be64, known);
  // RTV4000 order reverses every 4-byte group; it is told by the signature 55 AA stored reversed.
  Bytes block = {1, 2, 3, 4, 5, 6, 7, 8};
  Rtv4000Byteswap(block);
  EXPECT_EQ(block, (Bytes{4, 3, 2, 1, 8, 7, 6, 5}));
  Sector sector{};
  PutBe16(sector, 510, 0x55AA);
  EXPECT_FALSE(IsRtv4000Order(sector));
  Rtv4000Byteswap(sector);
  EXPECT_TRUE(IsRtv4000Order(sector));
  EXPECT_FALSE(IsRtv4000Order(std::span(sector).first(509)));
}

// The --drive options are taken out before the numbers; the tail of two numbers is read with
// atol's rules, and a number too big for its setting is not wrapped: a note in the log says so.
TEST(CommandLine, DriveOptionsThenATailOfTwoNumbers) {
  StartupOptions o = SplitStartupArguments({"--drive", "a.img", "2673", "--drive=b.img", "", "-x"});
  EXPECT_EQ(std::tuple(o.drive_paths, o.tail, o.other_options, o.missing_drive_argument),
            std::tuple(Lines{"a.img", "b.img"}, "2673 \"\"", Lines{"-x"}, false));
  EXPECT_TRUE(SplitStartupArguments({"--drive"}).missing_drive_argument);
  const std::tuple<const char*, uint32_t, int32_t, const char*> rows[] = {
      {"\"\" 262144", kNoDriveSizeLimit, 262144, ""},  // an empty argument keeps its place
      {"267386880\t1024 300", 267386880u, 1024, ""},
      {"4294967295 2147483647", 0xFFFFFFFFu, 2147483647, ""},
      {"4294967296 -4096", 0xFFFFFFFFu, -4096,
       "Drive size limit 4294967296 is out of range: taking the largest, 4294967295 sectors"},
      {"-1", 0xFFFFFFFFu, 0,
       "Drive size limit -1 is out of range: taking the largest, 4294967295 sectors"},
      {"0 2147483648", kNoDriveSizeLimit, 0,
       "MPEG cluster size 2147483648 is out of range: ignored, no cluster size override"}};
  for (auto [tail, limit, cluster, note] : rows) {
    SCOPED_TRACE(tail);
    ResetSettings();
    ApplyCommandLineTail(tail);
    EXPECT_EQ(g_maxDriveSectors, limit);
    EXPECT_EQ(g_mpegClusterOverride, cluster);
    EXPECT_EQ(g_settingNotes, *note ? Lines{note} : Lines{});
  }
  ResetSettings();
}

// What stands at the log file's path is refused: the list keeps every line, one warning says
// why (the name's control characters escaped), and a file that a link points to is left alone.
TEST(LogFacility, UnwritableLogFileWarnsOnceAndTouchesNothing) {
  const char* const causes[] = {"it is a symbolic link", "it is a symbolic link", "it is a folder",
                                "Permission denied"};
  for (int kind = 0; kind < 4; ++kind) {
    SCOPED_TRACE(kind);
    testing::TempDir dir;
    const std::string log = dir.File("quill\n\xc2\x9bmar.log");
    std::ofstream(dir.File("drive.img")) << "image";
    ASSERT_EQ(kind < 2 ? ::symlink(dir.File(kind == 0 ? "drive.img" : "gone").c_str(), log.c_str())
              : kind == 2 ? ::mkdir(log.c_str(), 0755)
                          : ::close(::open(log.c_str(), O_CREAT | O_WRONLY, 0444)),
              0);
    testing::ScriptedFrontEnd ui(true, log);
    const bool drop_root = ::geteuid() == 0 && kind == 3;  // root writes any file; nobody cannot
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    ASSERT_TRUE(!drop_root || ::seteuid(65534) == 0);
    LogLine("one");
    LogLine("two");
    ASSERT_TRUE(!drop_root || ::seteuid(0) == 0);
    const std::string warning = "*** WARNING: The log file " +
                                dir.File("quill\\x0a\\xc2\\x9bmar.log") + " cannot be written (" +
                                causes[kind] + "); this run's lines are not saved.";
    EXPECT_EQ(ui.lines(), (Lines{"one", warning, "two"}));
    EXPECT_EQ(testing::ReadFile<std::string>(dir.File("drive.img")), "image");
  }
}

// The default place (from the folder "/") gets its folders made, but never through a link among
// them (one the home's user planted, while the run is root's).
TEST(LogFacility, TheDefaultPlaceIsNeverReachedThroughALink) {
  const std::string home = std::getenv("HOME") == nullptr ? "" : std::getenv("HOME");
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  for (bool planted : {false, true}) {
    testing::TempDir dir;
    ASSERT_EQ(::mkdir(dir.File("elsewhere").c_str(), 0755), 0);
    ASSERT_TRUE(!planted || ::symlink("elsewhere", dir.File(".local").c_str()) == 0);
    testing::ScriptedFrontEnd ui(true);
    ASSERT_EQ(::setenv("HOME", dir.path().c_str(), 1), 0);
    ::unsetenv("XDG_STATE_HOME");
    ASSERT_EQ(::chdir("/"), 0);
    const std::string path = SetUpLogFile("");
    ASSERT_EQ(::chdir(cwd), 0);
    ::setenv("HOME", home.c_str(), 1);
    EXPECT_EQ(path, dir.File(".local/state/quillmar/quillmar.log"));
    LogLine("from the menu");
    EXPECT_EQ(testing::ReadFile<std::string>(path), planted ? "" : "from the menu\n");
    EXPECT_EQ(ui.lines().back().find("(it is a symbolic link)") != std::string::npos, planted);
  }
}

// A state folder that XDG_STATE_HOME names is made when missing (a missing home is not).
TEST(LogFacility, AMissingStateFolderIsMade) {
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  testing::TempDir dir;
  testing::ScriptedFrontEnd ui(true);
  ASSERT_EQ(::setenv("XDG_STATE_HOME", dir.File("state/deep").c_str(), 1), 0);
  ASSERT_EQ(::chdir("/"), 0);
  SetUpLogFile("");
  ASSERT_EQ(::chdir(cwd), 0);
  ::unsetenv("XDG_STATE_HOME");
  LogLine("made");
  EXPECT_EQ(testing::ReadFile<std::string>(dir.File("state/deep/quillmar/quillmar.log")), "made\n");
}

// A root run's log made in a folder of the user who ran sudo is handed to that user (their own runs
// append to it later); one made in root's folder stays root's. A missing home is not made.
TEST(LogFacility, ARootRunGivesItsLogOnlyToTheOwnerOfTheFolder) {
  const passwd* user = ::getpwnam("nobody");
  if (::geteuid() != 0 || user == nullptr)
    GTEST_SKIP() << "needs root and the user nobody";
  testing::TempDir dir;
  ASSERT_EQ(::mkdir(dir.File("theirs").c_str(), 0755), 0);
  ASSERT_EQ(::chown(dir.File("theirs").c_str(), user->pw_uid, user->pw_gid), 0);
  ASSERT_EQ(::setenv("SUDO_UID", std::to_string(user->pw_uid).c_str(), 1), 0);
  for (const std::string folder : {"theirs", "."}) {
    ::close(OpenLogFileForAppend(dir.File(folder + "/q.log"), ""));
    struct stat st {};
    ASSERT_EQ(::stat(dir.File(folder + "/q.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, folder == "." ? 0 : user->pw_uid) << folder;
  }
  ::unsetenv("SUDO_UID");
  EXPECT_EQ(OpenLogFileForAppend(dir.File("home/.local/q.log"), dir.File("home")), -ENOENT);
}

// Only Yes counts, and with nobody to ask (no front-end) the answer is No. A question is whole,
// however long the paths in it.
TEST(LogFacility, OnlyAYesProceeds) {
  EXPECT_EQ(AskYesNo("Reset?", "Reset MPEG partition"), kIdNo);
  EXPECT_FALSE(ConfirmProceed("anything"));
  std::string path;
  EXPECT_FALSE(ChooseFile(FileChoiceRequest{}, &path));
  testing::ScriptedFrontEnd ui(false);
  ui.AnswerAll({true, false, false});
  EXPECT_TRUE(ConfirmProceed("Target is smaller."));
  EXPECT_FALSE(ConfirmProceed("Target is smaller."));
  EXPECT_EQ(ui.questions()[0].text + ui.questions()[0].caption,
            "Target is smaller.\nDo you really want to proceed?Proceed?");
  ConfirmProceed(Format("%s to disk %s", std::string(3000, 'x').c_str(), "new.img"));
  EXPECT_EQ(ui.questions().back().text.substr(3000),
            " to disk new.img\nDo you really want to proceed?");
}

}  // namespace
}  // namespace quillmar
