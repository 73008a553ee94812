// quillmar-cli: its argument parser in the test's own process; then the built binary as a script or
// a user at a terminal runs it, in a child process on image files in a temporary folder, one row
// of a table per command line.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "cli/cli_arguments.h"
#include "cli/demo_drives.h"
#include "tests/support/disk_image.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

namespace fs = std::filesystem;
using cli::ParseCliArguments;

TEST(CliArguments, RefusedLinesNameTheirCause) {
  const std::pair<std::vector<std::string>, const char*> rows[] = {
      {{"frobnicate", "--help"}, "unknown command 'frobnicate'"},
      {{"list", "--wipe"}, "unknown option '--wipe'"},
      {{"list", "--force"}, "--force does not apply to 'list'"},
      {{"list", "--undo-limit", "5"}, "--undo-limit does not apply to 'list'"},
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
      {{"--yes=no", "mirror", "0", "1"}, "--yes takes no value"},
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

struct Ran {
  int status = -1;  // 128 + the signal when one ended the child
  std::string out, err;
};

// With answers, standard input is a pseudo-terminal: each answer is typed at the next "[y/N]" in
// standard error, "CUE=ANSWER" at the next CUE instead; "^C" sends SIGINT ("^H" SIGHUP), "-" is
// Enter alone. Otherwise it is /dev/null. The argument ">&-" makes standard output a pipe nobody
// reads. A child that hangs is killed.
Ran RunCli(const std::string& dir, std::vector<std::string> args,
           const std::vector<std::string>& answers = {}) {
  const bool reader_gone = std::erase(args, ">&-") != 0;
  const std::string out = dir + "/stdout.log", err = dir + "/stderr.log";
  fs::remove(err);  // watched for cues before the child empties it
  const bool terminal = !answers.empty();
  int master = -1, slave = -1;
  if (terminal && ::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
    ADD_FAILURE() << "no pseudo-terminal";
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    if (terminal)
      ::ioctl(slave, TIOCSCTTY, 0);
    ::dup2(terminal ? slave : ::open("/dev/null", O_RDONLY), 0);
    int pipe_ends[2], out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (reader_gone && ::pipe(pipe_ends) == 0 && ::close(pipe_ends[0]) == 0)
      out_fd = pipe_ends[1];
    ::dup2(out_fd, 1);
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    std::vector<char*> argv = {const_cast<char*>(QUILLMAR_CLI_BINARY)};
    for (const std::string& arg : args)
      argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    if (::chdir(dir.c_str()) == 0)
      ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (terminal)
    ::close(slave);
  size_t answered = 0, searched = 0;
  int status = 0;
  for (int polls = 0; ::waitpid(pid, &status, WNOHANG) == 0; ++polls) {
    if (polls > 60000)  // a minute and more
      ::kill(pid, SIGKILL);
    const std::string answer = answered < answers.size() ? answers[answered] : "";
    const size_t eq = answer.find('=');
    const std::string cue = eq == std::string::npos ? "[y/N]" : answer.substr(0, eq);
    const size_t at = answer.empty() ? std::string::npos
                                     : testing::ReadFile<std::string>(err).find(cue, searched);
    if (at != std::string::npos) {
      searched = at + 1;
      ++answered;
      const std::string action = eq == std::string::npos ? answer : answer.substr(eq + 1);
      const std::string typed = action == "-" ? "\n" : action + "\n";
      if (action == "^C" || action == "^H")
        ::kill(pid, action == "^C" ? SIGINT : SIGHUP);
      else
        EXPECT_EQ(::write(master, typed.data(), typed.size()), ssize_t(typed.size()));
    }
    ::usleep(1000);
  }
  if (terminal)
    ::close(master);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
          testing::ReadFile<std::string>(out), testing::ReadFile<std::string>(err)};
}

// Every file under the folder but logs (the captured output too), with a hash of its contents.
std::map<std::string, uint64_t> Snapshot(const std::string& dir) {
  std::map<std::string, uint64_t> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir))
    if (entry.is_regular_file() && entry.path().extension() != ".log")
      files[entry.path()] = testing::ImageHash(entry.path());
  return files;
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; std::getline(in, word, ' ');)
    if (!word.empty())
      words.push_back(word);
  return words;
}

struct Row {
  const char* name;
  // "[@photo|@pc] [FIRST ; ]COMMAND [<<< ANSWERS]", run with --drive @old --drive @new in front:
  // the demo drives, or @old an RTV4000 disk with a Photo partition and @new blank, or @new a PC
  // disk. FIRST must end with 0; the ANSWERS are typed on a terminal, one at each question.
  const char* line;
  int status;
  bool writes;  // whether any file changes, or none does
  // In standard error, ">..." in standard output, "!..." in neither; a stream none names is empty.
  const char* said[5];
};

class Cli : public ::testing::TestWithParam<Row> {};

TEST_P(Cli, Runs) {
  const Row& row = GetParam();
  testing::TempDir dir;
  const std::string old_img = dir.File("old.img"), new_img = dir.File("new.img");
  auto expand = [&](std::string text) {
    for (const auto& [token, value] : {std::pair<std::string, std::string>{"@old", old_img},
                                       {"@new", new_img},
                                       {"@file", dir.File("sys.rtv")},
                                       {"@dir", dir.path()}}) {
      for (size_t at; (at = text.find(token)) != std::string::npos;)
        text.replace(at, token.size(), value);
    }
    return text;
  };
  auto invoke = [&](const std::string& command, const std::string& answers) {
    return RunCli(dir.path(), Words(expand("--drive @old --drive @new " + command)),
                  Words(answers));
  };
  std::string command = row.line, answers;
  const bool photo = command.rfind("@photo ", 0) == 0, pc = command.rfind("@pc ", 0) == 0;
  cli::DemoDrives demo;
  if (photo || pc) {
    ASSERT_TRUE(testing::MakeReplayTvDisk(
        old_img, {.disk_sectors = 400000, .rtv4000 = photo, .photo_sectors = photo ? 20480u : 0}));
    ASSERT_TRUE(photo ? testing::MakeBlankImage(new_img, 600000)
                      : testing::MakePcDisk(new_img, 900000, testing::PcDisk::kLinux));
    command.erase(0, photo ? 7 : 4);
  } else {
    ASSERT_EQ(cli::MakeDemoDrives(dir.path(), &demo), "");
  }
  std::ofstream(dir.File("sys.rtv")) << std::string(4096, 'x');
  if (size_t at = command.find(" <<< "); at != std::string::npos) {
    answers = command.substr(at + 5);
    command.erase(at);
  }
  if (size_t at = command.find(" ; "); at != std::string::npos) {
    Ran first = invoke(command.substr(0, at), "");
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    command.erase(0, at + 3);
  }
  const auto before = Snapshot(dir.path());
  Ran run = invoke(command, answers);
  EXPECT_EQ(run.status, row.status) << run.out << run.err;
  bool out_named = false, err_named = false;
  for (const char* said : row.said) {
    if (said == nullptr)
      break;
    const std::string text = expand(said + (said[0] == '>' || said[0] == '!' ? 1 : 0));
    const std::string& stream = said[0] == '>' ? run.out : run.err;
    (said[0] == '>' ? out_named : err_named) |= said[0] != '!';
    if (said[0] == '!')
      EXPECT_EQ((run.out + run.err).find(text), std::string::npos) << text << run.out << run.err;
    else
      EXPECT_NE(stream.find(text), std::string::npos) << text << "\nis not in:\n" << stream;
  }
  EXPECT_TRUE(out_named || run.out.empty()) << run.out;
  EXPECT_TRUE(err_named || run.err.empty()) << run.err;
  EXPECT_EQ(Snapshot(dir.path()) != before, row.writes) << "files written, or none";
}

const Row kRows[] = {
    // Refused command lines: exit 2 with a short usage, the line's own text shown escaped.
    {"NoCommand", "", 2, false, "quillmar-cli: no command given\nUsage: quillmar-cli"},
    {"UnknownCommand", "erase\nX 0", 2, false, "unknown command 'erase\\x0aX'\nUsage: "},
    {"BadPhotoSize", "patch 0 --photo 7MB", 2, false, "--photo takes", "Usage: "},
    {"MissingDriveFile", "--drive @dir/none.img list", 2, false, "Usage: quillmar-cli"},
    {"LogIntoADrive", "--log @new list", 2, false, "--log @new is the drive @new or shares"},
    {"LogIntoTheImageToRestore", "backup 0 @dir/b.rtv ; --log @dir/b.rtv -y restore @dir/b.rtv 1",
     2, false, "is the file @dir/b.rtv of the command"},
    // Results alone on standard output, the log on standard error.
    {"List", "list", 0, false, "Log file: @dir/quillmar.log\nQuillmar version 2.4, built on ",
     ">Index  Device", ">  ReplayTV Disk\n1      @new "},
    {"QuietJson", "-q --json list", 0, false, R"(>"index": 1, "device": "@new")"},
    {"JsonOfANameInAnotherEncoding",
     "backup 0 @dir/\xe9t\xc3\xa9.img ; -q --json --drive @dir/\xe9t\xc3\xa9.img list", 0, false,
     R"(>"device": "@dir/\ufffdt)"
     "\xc3\xa9.img\""},
    {"ResultsNotRead", "-q --json list >&-", 1, false, "could not be written to standard output"},
    {"Limit", "--limit 1000000 list", 0, false, "Drive size will be limited to 1000000 sectors\n",
     ">  0 GB  "},
    {"Demo", "demo @dir/d", 0, true,
     "Log file: ", ">--drive @dir/d/old.img --drive @dir/d/new.img\n"},
    {"DemoOverExistingImages", "demo @dir", 1, false, "exists already"},
    // Questions that find no answer: No, exit 1, nothing written.
    {"MirrorWithoutYes", "mirror 0 1", 1, false, "[Proceed?] You are about to mirror disk @old",
     "  -> No (no terminal to ask on; --yes answers this question)"},
    {"PatchWithoutYes", "patch 0 --mpeg keep", 1, false, "  -> No ("},
    {"PatchWithoutMpeg", "patch 0 --yes", 1, false,
     "\"Reset MPEG partition\" (give --mpeg keep|reset|reformat)"},
    {"PatchWithoutPhoto", "@photo -y patch 0 --mpeg keep", 1, false,
     "(give --format-photo yes|no)"},
    {"JoinWithoutYes", "join 0 1 --mpeg reset", 1, false, "  -> No ("},
    {"BackupOverAFile", "backup 0 @file", 1, false, "@file already exists."},
    {"RestoreWithoutYes", "restore @file 1 --reset yes", 1, false, "  -> No ("},
    {"RestoreWithoutReset", "--yes restore @file 1", 1, false, "(give --reset yes|no)"},
    // Refusals: exit 1, nothing written.
    {"AbsentDrive", "--yes mirror 0 5", 1, false, "drive 5 is not present"},
    {"SameDrive", "--yes mirror 0 0", 1, false, "MUST NOT be the same."},
    {"VerifySameDrive", "verify 0 0", 1, false, "MUST NOT be the same."},
    {"CopyPhotoFromStandardOrder", "-y copy-photo 0 1", 1, false, "not in RTV4000 byte order"},
    {"ExistingUndoFile", "-y mirror 0 1 --undo @file", 1, false,
     "undo file @file exists already; nothing is written"},
    {"UndoFileInNoFolder", "-y mirror 0 1 --undo @dir/no/m.qun", 1, false,
     "Could not write the undo file", "!partly written"},
    {"BackupToAFolder", "-y backup 0 @dir", 1, false, "is a folder, not a file."},
    {"BackupOntoAnotherDrive", "-y backup 0 @new", 1, false, "@new is drive 1 or shares sectors"},
    {"RestoreFromNoFile", "-y restore @dir/no.rtv 1 --reset no", 1, false, "File not found."},
    {"PcDiskWithoutYes", "@pc mirror 0 1", 1, false,
     "[Warning] *** WARNING: Drive 1 contains non-ReplayTV partition", "![Proceed?]"},
    // On a terminal only "y" or "yes" consents; Ctrl-C at a question answers it and the rest No.
    {"TypedY", "mirror 0 1 <<< y", 0, true, "[Done] Copy Complete"},
    {"TypedEnter", "mirror 0 1 <<< -", 1, false, "[y/N]"},
    {"TypedYeah", "mirror 0 1 <<< yeah", 1, false, "[y/N]"},
    {"CtrlCAtAQuestion", "patch 0 <<< y ^C y", 130, false, "  -> No (interrupted)"},
    {"CtrlCAtTheRestoresLastQuestion", "backup 0 @dir/s.rtv ; restore @dir/s.rtv 1 <<< y ^C", 130,
     true, "  -> No (interrupted)", "stopped before the MPEG partition reset", "!Restore complete"},
    {"CtrlCStopsACopy", "-y copy-mpeg 0 1 <<< 10%=^C", 130, true, "*** Copy interrupted at block ",
     "[Copy interrupted] *** The copy was stopped: @new\n", "!Copy Complete"},
    {"HangUpStopsACopy", "-y copy-mpeg 0 1 <<< 10%=^H", 130, true,
     "*** Copy interrupted at block "},
    // Commands that write, with what the command line adds to them; the progress lines once.
    {"MirrorWithYes", "--yes mirror 0 1 --verify", 0, true, "  -> Yes (--yes)\n", "\nprogress: 10%",
     "\nprogress: 90%", "\nwrote 25 MB in ", "\nread 25 MB in "},
    {"PatchKeepingRecordings", "-y mirror 0 1 ; -y patch 1 --mpeg keep", 0, true,
     "[Reset MPEG partition] ", "  -> No (--mpeg keep)", "PATCH COMPLETE",
     "![Reformat MPEG partition]"},
    {"FileNameWithLineBreaks",
     "backup 0 @dir/a\n[Done]\n.rtv ; -y restore @dir/a\n[Done]\n.rtv 1 --reset no", 0, true,
     "  -> No (--reset no)", "a\\x0a[Done]\\x0a.rtv", "*** Restore complete", "!\n[Done]\n"},
    {"UndoWithoutYes", "-y mirror 0 1 --undo @dir/m.qun ; undo @dir/m.qun", 1, false,
     "blocks of disk @new are put back"},
    {"Undo", "-y mirror 0 1 --undo @dir/m.qun ; -y undo @dir/m.qun", 0, true, "put back"},
    {"Verify", "-y mirror 0 1 ; verify 0 1 system", 0, false, "Log file: ",
     ">Comparing drive 0 (@old) with drive 1 (@new)\n", ">\n1 ranges, 25723904 bytes compared"},
    {"VerifyWithAWordTooMany", "verify 0 1 mpeg extra", 2, false, "unexpected argument 'extra'"},
    {"VerifyOntoAShortTarget", "--drive @file verify 0 2 system", 1, false,
     "Log file: ", ">could not be read", ">1 ranges, 0 bytes compared"},
    {"InspectAJoinedPair", "@photo -y join 0 1 --mpeg keep --format-photo yes ; inspect 0", 0,
     false, "Log file: ", ">partition 3 on drive 2 (@new)"},
    {"VerifyFromAPair", "-y join 0 1 --mpeg keep ; verify 0 1 all", 1, false,
     "is drive 1 of a two-drive system"},
};

INSTANTIATE_TEST_SUITE_P(Rows, Cli, ::testing::ValuesIn(kRows), testing::ParamName());

}  // namespace
}  // namespace quillmar
