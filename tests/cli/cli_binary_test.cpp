// quillmar-cli as a script or a user runs it: the built binary in a child process, on the demo
// drives it writes into a temporary folder.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <list>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "cli/demo_drives.h"
#include "tests/cli/cli_process.h"
#include "tests/support/disk_aliases.h"
#include "tests/support/disk_image.h"
#include "tests/support/param_names.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

using testing::CliRun;
using testing::Contains;
using testing::FileSize;
using testing::ImageFingerprint;
using testing::ListRow;
using testing::RowEndsWith;
using testing::RunCliBinary;
using testing::RunCliOnTerminal;
using testing::TempDir;

class CliBinary : public ::testing::Test {
 protected:
  std::string Old() const { return dir_.File("old.img"); }
  std::string New() const { return dir_.File("new.img"); }

  CliRun Run(const std::vector<std::string>& args) { return RunCliBinary(args, dir_.path()); }

  // The command line with both demo drives in front.
  CliRun RunOnDrives(std::vector<std::string> args) {
    args.insert(args.begin(), {"--drive", Old(), "--drive", New()});
    return Run(args);
  }

  void MakeDemoDrives() {
    CliRun demo = Run({"demo", dir_.path()});
    ASSERT_EQ(demo.status, 0) << demo.out << demo.err;
  }

  TempDir dir_;
};

class UsageErrors : public CliBinary,
                    public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(UsageErrors, ExitTwoWithAShortUsage) {
  CliRun run = Run(GetParam());
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_TRUE(Contains(run.err, "quillmar-cli: ")) << run.err;
  EXPECT_TRUE(Contains(run.err, "Usage: quillmar-cli")) << run.err;
  EXPECT_FALSE(Contains(run.err, "\nX")) << "a line break of an argument is shown escaped";
  EXPECT_EQ(run.out, "");
}

// A 17th --drive, each of them a file that could be a drive.
std::vector<std::string> SeventeenDrives() {
  std::vector<std::string> args;
  for (int i = 0; i < 17; ++i)
    args.insert(args.end(), {"--drive", QUILLMAR_CLI_BINARY});
  args.push_back("list");
  return args;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, UsageErrors,
    // The parser's own cases are its unit tests'; here: that a refused line ends the process,
    // and the drive files the parser cannot judge.
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"erase\nX", "0"},
                      std::vector<std::string>{"patch", "0", "--photo", "7MB"},
                      std::vector<std::string>{"--drive", "missing\nX.img", "list"},
                      std::vector<std::string>{"--drive", ".", "inspect", "0"},
                      std::vector<std::string>{"--drive", "/dev/null", "list"}, SeventeenDrives()),
    [](const ::testing::TestParamInfo<std::vector<std::string>>& row) {
      return row.param.size() > 20 ? std::string("SeventeenDrives")
                                   : testing::NameFromWords(row.param);
    });

class HelpText : public CliBinary, public ::testing::WithParamInterface<std::string> {};

TEST_P(HelpText, IsShownForEveryCommandWithTheExitCodes) {
  std::vector<std::string> args = {"--help"};
  if (!GetParam().empty())
    args.insert(args.begin(), GetParam());
  CliRun run = Run(args);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "Usage: quillmar-cli")) << run.out;
  EXPECT_TRUE(Contains(run.out, "Exit status:\n  0  the operation finished\n")) << run.out;
  if (!GetParam().empty()) {
    EXPECT_TRUE(Contains(run.out, "Usage: quillmar-cli [OPTIONS] " + GetParam())) << run.out;
  }
  EXPECT_EQ(run.err, "");
}

INSTANTIATE_TEST_SUITE_P(Commands, HelpText,
                         ::testing::Values("", "list", "inspect", "mirror", "copy-mpeg",
                                           "copy-photo", "patch", "join", "backup", "restore",
                                           "demo", "undo", "verify"),
                         [](const ::testing::TestParamInfo<std::string>& row) {
                           return row.param.empty() ? "General" : testing::NameFromText(row.param);
                         });

TEST_F(CliBinary, DemoDrivesAreAnOldReplayTvDiskAndABlankOne) {
  CliRun demo = Run({"demo", dir_.path()});
  ASSERT_EQ(demo.status, 0) << demo.err;
  EXPECT_TRUE(Contains(demo.out, "--drive " + Old() + " --drive " + New() + "\n")) << demo.out;
  EXPECT_EQ(FileSize(Old()), 1073741824);
  EXPECT_EQ(FileSize(New()), 3221225472);

  CliRun list = RunOnDrives({"list"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_TRUE(Contains(list.err, "Quillmar version 2.4, built on ")) << list.err;
  std::string old_row = ListRow(list.out, 0);
  std::string new_row = ListRow(list.out, 1);
  // The old disk's partitions fill it: a recorder's disk as it comes out of the recorder.
  EXPECT_TRUE(Contains(old_row, Old()) && Contains(old_row, "1 GB")) << list.out;
  EXPECT_TRUE(RowEndsWith(list.out, 0, "ReplayTV Disk")) << list.out;
  EXPECT_TRUE(Contains(new_row, New()) && Contains(new_row, "3 GB")) << list.out;
  EXPECT_TRUE(RowEndsWith(list.out, 1, "NOT a ReplayTV Disk")) << list.out;
  EXPECT_EQ(ListRow(list.out, 2), "");

  // The log file of the window, in the current folder: each run, the demo's too, begins with
  // the version line.
  std::ifstream log(dir_.File("quillmar.log"));
  std::string line;
  std::vector<size_t> version_lines;
  for (size_t n = 0; std::getline(log, line); ++n) {
    if (line.rfind("Quillmar version 2.4, built on ", 0) == 0)
      version_lines.push_back(n);
  }
  ASSERT_EQ(version_lines.size(), 2u);
  EXPECT_EQ(version_lines[0], 0u);
}

// Results alone on standard output, so that "list > drives.txt" holds only the table; the log on
// standard error and in the log file, which --quiet keeps off the terminal only.
TEST_F(CliBinary, ResultsOnStandardOutputTheLogOnStandardErrorAndInItsFile) {
  MakeDemoDrives();
  const std::string version = "Quillmar version 2.4, built on ";
  CliRun list = RunOnDrives({"list"});
  EXPECT_EQ(list.out.rfind("Index  Device", 0), 0u) << list.out;
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 3) << list.out;
  EXPECT_EQ(list.err.rfind("Log file: " + dir_.File("quillmar.log") + "\n" + version, 0), 0u)
      << list.err;

  std::ofstream(dir_.File("quillmar.log"), std::ios::trunc).close();
  CliRun quiet = RunOnDrives({"list", "--quiet", "--json"});
  EXPECT_EQ(quiet.err, "");
  EXPECT_TRUE(Contains(testing::ReadText(dir_.File("quillmar.log")), version));
  std::ofstream(dir_.File("list.json")) << quiet.out;
  CliRun parsed = testing::RunTool("jq -r '.drives[1] | .device, .size_sectors, .is_replaytv' " +
                                   dir_.File("list.json"));
  EXPECT_EQ(parsed.out, New() + "\n6291456\nfalse\n") << quiet.out << parsed.err;

  // Started from the menu the current folder is "/": the log goes to the state folder.
  ASSERT_EQ(::setenv("XDG_STATE_HOME", dir_.File("state").c_str(), 1), 0);
  CliRun menu = RunCliBinary({"--drive", Old(), "list"}, "/");
  ::unsetenv("XDG_STATE_HOME");
  EXPECT_TRUE(Contains(testing::ReadText(dir_.File("state/quillmar/quillmar.log")), version))
      << menu.err;
  CliRun chosen = RunOnDrives({"--log", dir_.File("chosen.log"), "list"});
  EXPECT_TRUE(Contains(testing::ReadText(dir_.File("chosen.log")), version)) << chosen.err;
}

TEST_F(CliBinary, DemoNeverOverwritesExistingImages) {
  MakeDemoDrives();
  std::string before = ImageFingerprint(Old());
  CliRun again = Run({"demo", dir_.path()});
  EXPECT_EQ(again.status, 1);
  EXPECT_TRUE(Contains(again.err, "exists already")) << again.err;
  EXPECT_EQ(ImageFingerprint(Old()), before);
}

// Commands whose questions find no answer: no terminal, and either no --yes or no flag for a
// choice. Each must end with 1 and leave every image as it was.
struct UnansweredCase {
  std::vector<std::string> args;
  std::string said = "  -> No (";  // what standard error tells about the missing answer
};

class WithoutAnswers : public CliBinary, public ::testing::WithParamInterface<UnansweredCase> {};

TEST_P(WithoutAnswers, NothingIsWrittenAndTheExitIsOne) {
  MakeDemoDrives();
  std::string backup = dir_.File("sys.rtv");
  std::ofstream(backup) << std::string(4096, 'x');
  std::vector<std::string> args = GetParam().args;
  for (std::string& arg : args) {
    if (arg == "FILE")
      arg = backup;
  }
  std::string old_before = ImageFingerprint(Old());
  std::string new_before = ImageFingerprint(New());
  std::string file_before = ImageFingerprint(backup);

  CliRun run = RunOnDrives(args);
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_TRUE(Contains(run.err, GetParam().said)) << run.err;
  EXPECT_EQ(ImageFingerprint(Old()), old_before);
  EXPECT_EQ(ImageFingerprint(New()), new_before);
  EXPECT_EQ(ImageFingerprint(backup), file_before);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, WithoutAnswers,
    ::testing::Values(UnansweredCase{{"mirror", "0", "1"}}, UnansweredCase{{"copy-mpeg", "0", "1"}},
                      UnansweredCase{{"patch", "1", "--mpeg", "keep"}},
                      UnansweredCase{{"patch", "0", "--yes"},
                                     "\"Reset MPEG partition\" (give --mpeg keep|reset|reformat)"},
                      UnansweredCase{{"join", "0", "1", "--mpeg", "reset"}},
                      UnansweredCase{{"join", "0", "1", "--yes"}},
                      UnansweredCase{{"backup", "0", "FILE"}},
                      UnansweredCase{{"restore", "FILE", "1", "--reset", "yes"}},
                      UnansweredCase{{"restore", "FILE", "1", "--yes"}}),
    testing::WordsName());

TEST_F(CliBinary, TheWholeUpgradeRunsWithYes) {
  MakeDemoDrives();
  CliRun mirror = RunOnDrives({"--yes", "mirror", "0", "1"});
  ASSERT_EQ(mirror.status, 0) << mirror.out << mirror.err;
  EXPECT_TRUE(Contains(mirror.err, "***** Copy Complete                     *****\n"));
  EXPECT_TRUE(Contains(mirror.err, "[Done] Copy Complete\n")) << mirror.err;
  EXPECT_TRUE(Contains(mirror.err, "[Proceed?] You are about to mirror disk " + Old()))
      << mirror.err;
  // 40,000 + 10,242 blocks: 25 MB.
  EXPECT_TRUE(Contains(mirror.err, "\nwrote 25 MB in ")) << mirror.err;

  CliRun list = RunOnDrives({"list"});
  EXPECT_TRUE(RowEndsWith(list.out, 1, "ReplayTV Disk, NEEDS TO BE PATCHED")) << list.out;

  CliRun copy = RunOnDrives({"copy-mpeg", "0", "1", "-y"});
  ASSERT_EQ(copy.status, 0) << copy.out << copy.err;
  EXPECT_TRUE(Contains(copy.err, "[Copy Complete] NOTE: You MUST now apply the patch")) << copy.err;

  CliRun patch = RunOnDrives({"patch", "1", "--mpeg", "keep", "--yes"});
  ASSERT_EQ(patch.status, 0) << patch.out << patch.err;
  EXPECT_TRUE(Contains(patch.err, "***** PATCH COMPLETE                    *****\n")) << patch.err;
  EXPECT_TRUE(Contains(patch.err, "[Reset MPEG partition] ** Do you want to reset")) << patch.err;
  EXPECT_TRUE(Contains(patch.err, "  -> No (--mpeg keep)")) << patch.err;
  EXPECT_FALSE(Contains(patch.err, "[Reformat MPEG partition]")) << patch.err;

  list = RunOnDrives({"list"});
  EXPECT_TRUE(RowEndsWith(list.out, 1, "ReplayTV Disk")) << list.out;

  CliRun inspect = RunOnDrives({"inspect", "1"});
  EXPECT_EQ(inspect.status, 0) << inspect.out << inspect.err;
}

// The file's name holds line breaks: it is shown escaped, never as lines of its own.
TEST_F(CliBinary, BackupAndRestoreTakeTheFileArgument) {
  MakeDemoDrives();
  std::string file = dir_.File("system\n[Done] Patch complete\n.rtv");
  CliRun backup = RunOnDrives({"backup", "0", file});
  ASSERT_EQ(backup.status, 0) << backup.out << backup.err;
  EXPECT_TRUE(Contains(backup.out + backup.err, "*** Backup complete\n")) << backup.out;
  EXPECT_EQ(FileSize(file), (40000 + 10242) * 512);

  CliRun restore = RunOnDrives({"--yes", "restore", file, "1", "--reset", "no"});
  ASSERT_EQ(restore.status, 0) << restore.out << restore.err;
  EXPECT_TRUE(Contains(restore.err, "[Warning] *** Warning: This will OVERWRITE")) << restore.err;
  EXPECT_TRUE(Contains(restore.err, "  -> No (--reset no)")) << restore.err;
  EXPECT_TRUE(Contains(restore.out + restore.err, "*** Restore complete\n")) << restore.out;
  for (const CliRun& run : {backup, restore}) {
    std::string shown = run.out + run.err;
    EXPECT_FALSE(Contains(shown, "\n[Done]")) << shown;
    EXPECT_TRUE(Contains(shown, "system\\x0a[Done] Patch complete\\x0a.rtv")) << shown;
  }

  CliRun list = RunOnDrives({"list"});
  EXPECT_TRUE(RowEndsWith(list.out, 1, "ReplayTV Disk, NEEDS TO BE PATCHED")) << list.out;
}

// Killed mid-way through a mirror that writes an undo file, the target is put back by 'undo'.
TEST_F(CliBinary, UndoRestoresADiskAfterTheProcessWasKilled) {
  MakeDemoDrives();
  uint64_t before = testing::ImageHash(New());
  std::string undo = dir_.File("mirror.qun");
  int status = testing::RunCliUntil(
      {"--drive", Old(), "--drive", New(), "--yes", "mirror", "0", "1", "--undo", undo},
      dir_.path(), [&] { return FileSize(undo) > (8 << 20); });
  EXPECT_EQ(status, 137) << "the mirror ended before it could be killed";
  CliRun again = RunOnDrives({"--yes", "mirror", "0", "1", "--undo", undo});
  EXPECT_EQ(again.status, 1);
  EXPECT_TRUE(Contains(again.err, "undo file " + undo + " exists already")) << again.err;

  CliRun unasked = RunOnDrives({"undo", undo});  // no terminal, no --yes: No, nothing written
  EXPECT_EQ(unasked.status, 1) << unasked.err;
  EXPECT_TRUE(Contains(unasked.err, "blocks of disk " + New() + " are put back")) << unasked.err;
  EXPECT_NE(testing::ImageHash(New()), before);
  CliRun run = RunOnDrives({"--yes", "undo", undo});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(Contains(run.out + run.err, "did not finish")) << run.out;
  EXPECT_EQ(testing::ImageHash(New()), before);
}

TEST_F(CliBinary, VerifyNamesTheFirstDifference) {
  MakeDemoDrives();
  CliRun mirror =
      RunOnDrives({"--yes", "mirror", "0", "1", "--verify", "--undo", dir_.File("m.qun")});
  ASSERT_EQ(mirror.status, 0) << mirror.err;
  // 25,723,904 bytes copied (the undo file's writes are not counted), then both sides read back.
  EXPECT_TRUE(Contains(mirror.err, "\nwrote 25 MB in ")) << mirror.err;
  EXPECT_TRUE(Contains(mirror.err, "\nread 49 MB in ")) << mirror.err;
  const std::string link = dir_.File("new\nX.img");  // its line break is shown escaped
  ASSERT_EQ(::symlink(New().c_str(), link.c_str()), 0);
  CliRun same = Run({"--drive", Old(), "--drive", link, "verify", "0", "1", "system"});
  EXPECT_EQ(same.status, 0) << same.out << same.err;
  EXPECT_TRUE(Contains(same.out, "new\\x0aX.img)\n")) << same.out;
  EXPECT_TRUE(Contains(same.out + same.err,
                       "1 ranges, 25723904 bytes compared, first difference: "
                       "none\n"))
      << same.out;
  std::ofstream(New(), std::ios::in | std::ios::out | std::ios::binary)
      .seekp(4321 * 512 + 7)
      .put('!');
  CliRun differs = RunOnDrives({"verify", "0", "1", "system"});
  EXPECT_EQ(differs.status, 1);
  EXPECT_TRUE(Contains(differs.out + differs.err,
                       "first difference: target block 4321 (system)"))
      << differs.out;
}

TEST_F(CliBinary, RefusalsExitOne) {
  MakeDemoDrives();
  CliRun absent = RunOnDrives({"--yes", "mirror", "0", "5"});
  EXPECT_EQ(absent.status, 1);
  EXPECT_TRUE(Contains(absent.err, "drive 5 is not present")) << absent.err;

  std::string before = ImageFingerprint(Old());
  CliRun same = RunOnDrives({"--yes", "mirror", "0", "0"});
  EXPECT_EQ(same.status, 1);
  EXPECT_TRUE(Contains(same.err, "Source and Target disks MUST NOT be the same.")) << same.err;
  EXPECT_EQ(ImageFingerprint(Old()), before);
  CliRun itself = RunOnDrives({"verify", "0", "0"});
  EXPECT_EQ(itself.status, 1);
  EXPECT_TRUE(Contains(itself.err, "Source and Target disks MUST NOT be the same.")) << itself.err;

  CliRun blank = RunOnDrives({"inspect", "1"});
  EXPECT_EQ(blank.status, 1) << blank.out;
}

// Two names of one disk: the second is left out of the drive list; two that overlap are
// refused as a pair before any question. Either way nothing is written.
class SameDisk : public CliBinary,
                 public ::testing::WithParamInterface<
                     std::tuple<testing::DiskAlias, std::vector<std::string>>> {};

TEST_P(SameDisk, IsRefusedBeforeAnyQuestion) {
  const auto& [alias, command] = GetParam();
  if (alias.needs_root && ::geteuid() != 0)
    GTEST_SKIP() << "attaching a loop device needs root";
  MakeDemoDrives();
  std::list<testing::LoopDevice> loops;
  auto [a, b] = alias.names(Old(), &loops);
  if (a.empty() || b.empty())
    GTEST_SKIP() << "losetup could not attach a loop device here";
  std::string before = ImageFingerprint(Old());
  std::vector<std::string> args = {"--yes", "--drive", a, "--drive", b};
  args.insert(args.end(), command.begin(), command.end());
  CliRun run = Run(args);
  std::string said = run.out + run.err;
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(said, alias.overlapping
                                 ? a + " and " + b + " overlap: they share sectors of one disk."
                                 : b + " is the same disk as " + a + " (drive 0); it is left out"))
      << said;
  EXPECT_FALSE(Contains(said, "[Proceed?]")) << said;
  EXPECT_EQ(ImageFingerprint(Old()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, SameDisk,
    ::testing::Combine(::testing::ValuesIn(testing::DiskAliases()),
                       ::testing::Values(std::vector<std::string>{"mirror", "0", "1"},
                                         std::vector<std::string>{"verify", "0", "1"},
                                         std::vector<std::string>{"copy-mpeg", "0", "1"},
                                         std::vector<std::string>{"copy-photo", "0", "1"},
                                         std::vector<std::string>{"join", "0", "1", "--mpeg",
                                                                  "keep"})),
    [](const auto& row) {
      return testing::NameFromText(std::get<0>(row.param).name) + "_" +
             testing::NameFromWords(std::get<1>(row.param));
    });

TEST_F(CliBinary, TheLimitIsTheWindowsFirstNumber) {
  MakeDemoDrives();
  CliRun list = RunOnDrives({"--limit", "1000000", "list"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_TRUE(Contains(list.err, "Drive size will be limited to 1000000 sectors\n")) << list.err;
  EXPECT_TRUE(Contains(ListRow(list.out, 0), "  0 GB  ")) << list.out;

  CliRun large = RunOnDrives({"--limit", "3000000000", "list"});
  ASSERT_EQ(large.status, 0) << large.err;
  EXPECT_TRUE(Contains(large.err, "Drive size will be limited to 3000000000 sectors\n"))
      << large.err;
}

// Ctrl-C during a copy of about 1 GB: the copy stops at its next chunk with what it wrote on the
// target, nothing reports it complete, and the process ends within a second with 130.
TEST_F(CliBinary, CtrlCStopsACopyAtTheNextChunk) {
  MakeDemoDrives();
  std::chrono::steady_clock::time_point signalled;
  bool sent = false;
  CliRun run = RunCliBinary({"--drive", Old(), "--drive", New(), "copy-mpeg", "0", "1", "--yes"},
                            dir_.path(), [&](pid_t pid, const CliRun& so_far) {
                              if (!sent && Contains(so_far.out + so_far.err, "Copying ")) {
                                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                                signalled = std::chrono::steady_clock::now();
                                sent = ::kill(pid, SIGINT) == 0;
                              }
                            });
  const auto took = std::chrono::steady_clock::now() - signalled;
  ASSERT_TRUE(sent);
  const std::string all = run.out + run.err;
  EXPECT_EQ(run.status, 130) << all;
  EXPECT_LT(took, std::chrono::seconds(1));
  EXPECT_FALSE(Contains(all, "Copy Complete")) << all;
  const size_t at = all.find("*** Copy interrupted at block ");
  ASSERT_NE(at, std::string::npos) << all;
  const uint64_t copied = std::min<uint64_t>(std::stoull(all.substr(at + 30)), 4096);
  const uint64_t mpeg_start = cli::kDemoSystemSectors + 2;
  EXPECT_EQ(testing::ReadSectors(New(), mpeg_start, copied),
            testing::ReadSectors(Old(), mpeg_start, copied));
}

// Ctrl-C at a question answers it, and every later one, No. At the restore's last question (the
// reset after its copy) the restore has finished all the same: exit 0. At the patch's reset
// question nothing is written, also when "y" is typed after it: exit 130.
TEST_F(CliBinary, CtrlCAtAQuestionAnswersNo) {
  MakeDemoDrives();
  const std::string file = dir_.File("system.rtv");
  ASSERT_EQ(RunOnDrives({"backup", "0", file}).status, 0);
  CliRun restore = RunCliOnTerminal({"--drive", Old(), "--drive", New(), "restore", file, "1"},
                                    dir_.path(), {"y", "\x03"});
  EXPECT_EQ(restore.status, 0) << restore.err;
  EXPECT_TRUE(Contains(restore.err, "  -> No (interrupted)")) << restore.err;
  EXPECT_TRUE(Contains(restore.err, "*** Restore complete")) << restore.err;
  const std::string before = ImageFingerprint(New());
  CliRun patch = RunCliOnTerminal({"--drive", Old(), "--drive", New(), "patch", "1"}, dir_.path(),
                                  {"y", "\x03y", "y"});
  EXPECT_EQ(patch.status, 130) << patch.err;
  EXPECT_EQ(ImageFingerprint(New()), before);
}

struct TypedCase {
  const char* name;
  std::vector<std::string> typed;
  int status;
};

class OnATerminal : public CliBinary, public ::testing::WithParamInterface<TypedCase> {};

TEST_P(OnATerminal, OnlyYOrYesConsents) {
  MakeDemoDrives();
  std::string before = ImageFingerprint(New());
  CliRun run = RunCliOnTerminal({"--drive", Old(), "--drive", New(), "mirror", "0", "1"},
                                dir_.path(), GetParam().typed);
  EXPECT_EQ(run.status, GetParam().status) << run.err;
  EXPECT_TRUE(Contains(run.err, "[Proceed?] You are about to mirror disk")) << run.err;
  EXPECT_EQ(ImageFingerprint(New()) == before, GetParam().status != 0);
}

INSTANTIATE_TEST_SUITE_P(Answers, OnATerminal,
                         // What else counts as yes is the front-end's unit test.
                         ::testing::Values(TypedCase{"Y", {"y"}, 0}, TypedCase{"Enter", {""}, 1}),
                         [](const ::testing::TestParamInfo<TypedCase>& case_info) {
                           return case_info.param.name;
                         });

}  // namespace
}  // namespace quillmar
