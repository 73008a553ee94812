// quillmar-cli as a script or a user runs it: the built binary in a child process, on the demo
// drives it writes into a temporary folder.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "cli/demo_drives.h"
#include "tests/cli/cli_process.h"
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
  EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Lines, UsageErrors,
    // The parser's own cases are its unit tests'; here: that a refused line ends the process,
    // and the drive files the parser cannot judge.
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"erase", "0"},
                      std::vector<std::string>{"patch", "0", "--photo", "7MB"},
                      std::vector<std::string>{"--drive", "missing.img", "list"},
                      std::vector<std::string>{"--drive", ".", "inspect", "0"},
                      std::vector<std::string>{"--drive", "/dev/null", "list"}),
    testing::WordsName());

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
                                           "demo"),
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
  EXPECT_TRUE(Contains(list.out, "Quillmar version 2.4, built on ")) << list.out;
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
  EXPECT_TRUE(Contains(mirror.out, "***** Copy Complete                     *****\n"));
  EXPECT_TRUE(Contains(mirror.out, "[Done] Copy Complete\n")) << mirror.out;
  EXPECT_TRUE(Contains(mirror.err, "[Proceed?] You are about to mirror disk " + Old()))
      << mirror.err;
  // 40,000 + 10,242 blocks: 25 MB.
  EXPECT_TRUE(Contains(mirror.err, "\nwrote 25 MB in ")) << mirror.err;

  CliRun list = RunOnDrives({"list"});
  EXPECT_TRUE(RowEndsWith(list.out, 1, "ReplayTV Disk, NEEDS TO BE PATCHED")) << list.out;

  CliRun copy = RunOnDrives({"copy-mpeg", "0", "1", "-y"});
  ASSERT_EQ(copy.status, 0) << copy.out << copy.err;
  EXPECT_TRUE(Contains(copy.out, "[Copy Complete] NOTE: You MUST now apply the patch")) << copy.out;

  CliRun patch = RunOnDrives({"patch", "1", "--mpeg", "keep", "--yes"});
  ASSERT_EQ(patch.status, 0) << patch.out << patch.err;
  EXPECT_TRUE(Contains(patch.out, "***** PATCH COMPLETE                    *****\n")) << patch.out;
  EXPECT_TRUE(Contains(patch.err, "[Reset MPEG partition] ** Do you want to reset")) << patch.err;
  EXPECT_TRUE(Contains(patch.err, "  -> No (--mpeg keep)")) << patch.err;
  EXPECT_FALSE(Contains(patch.err, "[Reformat MPEG partition]")) << patch.err;

  list = RunOnDrives({"list"});
  EXPECT_TRUE(RowEndsWith(list.out, 1, "ReplayTV Disk")) << list.out;

  CliRun inspect = RunOnDrives({"inspect", "1"});
  EXPECT_EQ(inspect.status, 0) << inspect.out << inspect.err;
}

TEST_F(CliBinary, BackupAndRestoreTakeTheFileArgument) {
  MakeDemoDrives();
  std::string file = dir_.File("system.rtv");
  CliRun backup = RunOnDrives({"backup", "0", file});
  ASSERT_EQ(backup.status, 0) << backup.out << backup.err;
  EXPECT_TRUE(Contains(backup.out, "*** Backup complete\n")) << backup.out;
  EXPECT_EQ(FileSize(file), (40000 + 10242) * 512);

  CliRun restore = RunOnDrives({"--yes", "restore", file, "1", "--reset", "no"});
  ASSERT_EQ(restore.status, 0) << restore.out << restore.err;
  EXPECT_TRUE(Contains(restore.err, "[Warning] *** Warning: This will OVERWRITE")) << restore.err;
  EXPECT_TRUE(Contains(restore.err, "  -> No (--reset no)")) << restore.err;
  EXPECT_TRUE(Contains(restore.out, "*** Restore complete\n")) << restore.out;

  CliRun list = RunOnDrives({"list"});
  EXPECT_TRUE(RowEndsWith(list.out, 1, "ReplayTV Disk, NEEDS TO BE PATCHED")) << list.out;
}

TEST_F(CliBinary, RefusalsExitOne) {
  MakeDemoDrives();
  CliRun absent = RunOnDrives({"--yes", "mirror", "0", "5"});
  EXPECT_EQ(absent.status, 1);
  EXPECT_TRUE(Contains(absent.err, "drive 5 is not present")) << absent.err;

  std::string before = ImageFingerprint(Old());
  CliRun same = RunOnDrives({"--yes", "mirror", "0", "0"});
  EXPECT_EQ(same.status, 1);
  EXPECT_TRUE(Contains(same.out, "Source and Target disks MUST NOT be the same.")) << same.out;
  EXPECT_EQ(ImageFingerprint(Old()), before);

  CliRun blank = RunOnDrives({"inspect", "1"});
  EXPECT_EQ(blank.status, 1) << blank.out;
}

// The same image under two indexes (given twice, or through a link) is one disk: copying or
// joining it with itself would overwrite what it reads.
class SameDiskTwice : public CliBinary,
                      public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(SameDiskTwice, IsRefusedBeforeAnyQuestion) {
  MakeDemoDrives();
  std::string alias = dir_.File("alias.img");
  ASSERT_EQ(::symlink(Old().c_str(), alias.c_str()), 0);
  std::string before = ImageFingerprint(Old());
  std::vector<std::string> args = {"--yes", "--drive", Old(), "--drive", alias};
  args.insert(args.end(), GetParam().begin(), GetParam().end());
  CliRun run = Run(args);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(run.err, "drives 0 (" + Old() + ") and 1 (" + alias + ") are the same disk"))
      << run.err;
  EXPECT_FALSE(Contains(run.err, "[Proceed?]")) << run.err;
  EXPECT_EQ(ImageFingerprint(Old()), before);
}

INSTANTIATE_TEST_SUITE_P(Commands, SameDiskTwice,
                         ::testing::Values(std::vector<std::string>{"mirror", "0", "1"},
                                           std::vector<std::string>{"copy-mpeg", "0", "1"},
                                           std::vector<std::string>{"copy-photo", "0", "1"},
                                           std::vector<std::string>{"join", "0", "1", "--mpeg",
                                                                    "keep"}),
                         testing::WordsName());

TEST_F(CliBinary, TheLimitIsTheWindowsFirstNumber) {
  MakeDemoDrives();
  CliRun list = RunOnDrives({"--limit", "1000000", "list"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_TRUE(Contains(list.out, "Drive size will be limited to 1000000 sectors\n")) << list.out;
  EXPECT_TRUE(Contains(ListRow(list.out, 0), "  0 GB  ")) << list.out;

  CliRun large = RunOnDrives({"--limit", "3000000000", "list"});
  ASSERT_EQ(large.status, 0) << large.err;
  EXPECT_TRUE(Contains(large.out, "Drive size will be limited to 3000000000 sectors\n"))
      << large.out;
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
