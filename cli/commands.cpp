#include "cli/commands.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "base/build_info.h"
#include "base/command_line.h"
#include "base/log.h"
#include "base/settings.h"
#include "base/shown_path.h"
#include "cli/cli_arguments.h"
#include "cli/demo_drives.h"
#include "cli/drive_listing.h"
#include "cli/progress_display.h"
#include "cli/stop_signals.h"
#include "cli/terminal_front_end.h"
#include "cli/transfer_meter.h"
#include "cli/usage_text.h"
#include "disk/copy_stop.h"
#include "disk/drive_identity.h"
#include "disk/drive_map.h"
#include "disk/drive_table.h"
#include "drives/classify.h"
#include "ops/drive_checks.h"
#include "ops/inspector.h"
#include "ops/operations.h"
#include "ops/safety_nets.h"
#include "ops/undo_replay.h"
#include "ops/verify.h"

namespace quillmar::cli {
namespace {

// Messages echo arguments (paths among them): their control characters are shown escaped.
void Complain(const std::string& message) {
  std::fprintf(stderr, "quillmar-cli: %s\n", ShownPath(message).c_str());
  std::fflush(stderr);
}

// The front-end is the log facility's for the whole run, and only for it.
class Registration {
 public:
  explicit Registration(FrontEnd* front_end) {
    SetFrontEnd(front_end);
    RegisterLogWindow();
  }
  ~Registration() { ResetLogFacility(); }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;
};

const char* YesNo(bool yes) {
  return yes ? "yes" : "no";
}

// The answers the command line gives, by the caption of the question they answer.
AnswerPolicy PolicyFor(const CliRequest& request, bool terminal) {
  AnswerPolicy policy;
  policy.yes_to_confirmations = request.yes;
  policy.terminal = terminal;
  policy.file = request.path;
  switch (request.mpeg) {
    case MpegChoice::kAsk:
      break;
    case MpegChoice::kKeep:
      policy.presets[kResetCaption] = {false, "--mpeg keep"};
      break;
    case MpegChoice::kReset:
      policy.presets[kResetCaption] = {true, "--mpeg reset"};
      policy.presets[kReformatCaption] = {false, "--mpeg reset"};
      break;
    case MpegChoice::kReformat:
      policy.presets[kResetCaption] = {true, "--mpeg reformat"};
      policy.presets[kReformatCaption] = {true, "--mpeg reformat"};
      break;
  }
  if (request.format_photo) {
    policy.presets[kPhotoCaption] = {*request.format_photo,
                                     std::string("--format-photo ") + YesNo(*request.format_photo)};
  }
  if (request.reset) {
    policy.presets[kRestoreResetCaption] = {*request.reset,
                                            std::string("--reset ") + YesNo(*request.reset)};
  }
  policy.hints[kResetCaption] = "--mpeg keep|reset|reformat";
  policy.hints[kReformatCaption] = "--mpeg keep|reset|reformat";
  policy.hints[kPhotoCaption] = "--format-photo yes|no";
  policy.hints[kRestoreResetCaption] = "--reset yes|no";
  return policy;
}

// A choice question the command will meet that neither a flag nor the terminal can answer,
// with the flag that would; "" when every one has an answer.
std::string MissingChoice(const CliRequest& request, bool terminal) {
  if (terminal)
    return "";
  if (request.command == Command::kPatch || request.command == Command::kJoin) {
    if (request.mpeg == MpegChoice::kAsk) {
      return std::string("\"") + kResetCaption + "\" (give --mpeg keep|reset|reformat)";
    }
    // The photo question comes only for a disk in RTV4000 order, the first drive's for a pair.
    const DriveInfo& drive = DriveAt(request.drives[0]);
    if (drive.rtv4000 != 0 && !request.format_photo) {
      return std::string("\"") + kPhotoCaption + "\" (give --format-photo yes|no)";
    }
  }
  if (request.command == Command::kRestore && !request.reset) {
    return std::string("\"") + kRestoreResetCaption + "\" (give --reset yes|no)";
  }
  return "";
}

bool Present(int index) {
  return DriveAt(index).size_sectors != 0;
}

// What the window does when a drive is set as source or target: a drive with PC partitions is
// taken only after the warning was answered Yes.
bool AcceptSelection(int index) {
  if (DriveAt(index).system_disk == 0)
    return true;
  std::string warning = Format(
      "*** WARNING: Drive %d contains non-ReplayTV partition information\n*** WARNING: and may "
      "be one of your PC's drives.\n    Are you sure you want to continue?",
      index);
  return AskWindowYesNo(warning, "Warning") == kIdYes;
}

// Every drive named must be present and a different disk from the other named; then each is
// set as the window would set it.
bool SelectDrives(const std::vector<int>& drives) {
  for (int index : drives) {
    if (!Present(index)) {
      Complain(Format("drive %d is not present (see 'quillmar-cli list')", index));
      return false;
    }
  }
  // Before the warnings below, which are questions.
  if (drives.size() == 2 && !CheckDistinctDisks(drives[0], drives[1]))
    return false;
  for (int index : drives) {
    if (!AcceptSelection(index))
      return false;
  }
  return true;
}

// The second drive of the pair drive index is the first of, when exactly one listed drive is
// a second drive; -1 otherwise.
int SecondOfPair(int index) {
  if (DriveAt(index).dual_position != 1)
    return -1;
  int found = -1;
  for (int i = 0; i < kMaxDrives; ++i) {
    if (Present(i) && DriveAt(i).dual_position == 2) {
      if (found != -1)
        return -1;
      found = i;
    }
  }
  return found;
}

int Inspect(int index) {
  if (!Present(index)) {
    Complain(Format("drive %d is not present (see 'quillmar-cli list')", index));
    return -1;
  }
  int second = SecondOfPair(index);
  InspectionReport report =
      InspectDrive(DriveAt(index).device_path, second < 0 ? "" : DriveAt(second).device_path);
  std::fputs(RenderInspection(report).c_str(), stdout);
  std::fflush(stdout);
  return report.verified ? 0 : -1;
}

int CopyPhoto(int source, int target) {
  if (!SelectDrives({source, target}))
    return -1;
  if (DriveAt(source).rtv4000 == 0) {
    Complain(
        Format("drive %d is not in RTV4000 byte order; only RTV4000 disks have a Photo "
               "partition to copy",
               source));
    return -1;
  }
  return CopyPhotoPartition(source, target);
}

UpgradeRange RangeNamed(const std::string& name) {
  if (name == "system")
    return UpgradeRange::kSystem;
  if (name == "mpeg")
    return UpgradeRange::kMpeg;
  return name == "photo" ? UpgradeRange::kPhoto : UpgradeRange::kAll;
}

// The summary goes to standard output; 0 when every range compared identical.
int VerifyDrives(int source, int target, const std::string& ranges) {
  if (!Present(source) || !Present(target)) {
    Complain(Format("drive %d is not present (see 'quillmar-cli list')",
                    Present(source) ? target : source));
    return -1;
  }
  std::vector<RangeComparison> compared;
  int result = VerifyUpgradeRanges(source, target, RangeNamed(ranges), &compared);
  if (compared.empty())
    return result;
  std::printf("Comparing drive %d (%s) with drive %d (%s)\n%s", source,
              ShownPath(DriveAt(source).device_path).c_str(), target,
              ShownPath(DriveAt(target).device_path).c_str(),
              RenderRangeComparisons(compared).c_str());
  std::fflush(stdout);
  return result;
}

int Operate(const CliRequest& request) {
  const std::vector<int>& d = request.drives;
  const OperationStart nothing_to_disable = [] {};
  switch (request.command) {
    case Command::kList:
      std::fputs(
          (request.json ? RenderDriveListJson(DriveTable) : RenderDriveList(DriveTable)).c_str(),
          stdout);
      std::fflush(stdout);
      return 0;
    case Command::kInspect:
      return Inspect(d[0]);
    case Command::kMirror:
      return SelectDrives(d) ? MirrorSystemPartition(d[0], d[1]) : -1;
    case Command::kCopyMpeg:
      return SelectDrives(d) ? CopyMpegPartition(d[0], d[1]) : -1;
    case Command::kCopyPhoto:
      return CopyPhoto(d[0], d[1]);
    case Command::kPatch:
      return SelectDrives(d) ? PatchSingleDrive(d[0], request.photo_sectors) : -1;
    case Command::kJoin:
      return SelectDrives(d) ? AddSecondDrive(d[0], d[1], request.photo_sectors) : -1;
    case Command::kBackup:
      return SelectDrives(d) ? BackupSourceDrive(d[0], nothing_to_disable) : -1;
    case Command::kRestore:
      return SelectDrives(d) ? RestoreTargetDrive(d[0], nothing_to_disable) : -1;
    case Command::kUndo:
      return UndoFromFile(request.path, request.force);
    case Command::kVerify:
      return VerifyDrives(d[0], d[1], request.ranges);
    case Command::kDemo:
    case Command::kNone:
      break;
  }
  return -1;
}

// The operation, recording what it overwrites when an undo file was asked for. An existing undo
// file is never replaced: it may be the only way back from an earlier operation.
int OperateWithUndo(const CliRequest& request) {
  SafetyNets nets;
  nets.verify = request.verify;
  nets.undo_limit = request.undo_limit.value_or(kDefaultUndoLimitBytes);
  if (!request.undo_file.empty()) {
    std::error_code error;
    if (std::filesystem::exists(request.undo_file, error)) {
      Complain(
          Format("undo file %s exists already; nothing is written", request.undo_file.c_str()));
      return -1;
    }
    nets.undo_path = [&request](std::string* path) {
      *path = request.undo_file;
      return true;
    };
  }
  return RunWithSafetyNets(nets, [&request] { return Operate(request); });
}

// Whether two paths name one file, also when it does not exist yet.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error_a, error_b;
  return std::filesystem::weakly_canonical(a, error_a) ==
             std::filesystem::weakly_canonical(b, error_b) &&
         !error_a && !error_b;
}

// A log file that is one of the --drive images (or shares sectors with one), or the command's own
// file (the backup, the image to restore, an undo file), would be written without a question:
// refused.
std::string LogPathProblem(const CliRequest& request) {
  if (request.log_path.empty())
    return "";
  if (std::string problem = LogPathDrivesProblem(request.log_path, request.drive_paths);
      !problem.empty()) {
    return problem;
  }
  for (const std::string& file :
       {request.command == Command::kDemo ? "" : request.path, request.undo_file}) {
    if (!file.empty() && (SameFile(request.log_path, file) ||
                          DiskRelationOf(request.log_path, file) != DiskRelation::kSeparate)) {
      return "--log " + request.log_path + " is the file " + file + " of the command";
    }
  }
  return "";
}

// The start of a run as the window's first tick does it: version line, limit line, probe and
// classification with their log lines.
void StartRun(const CliRequest& request) {
  SetDrivePaths(request.drive_paths);
  ApplyCommandLineTail(StartupTail(request));
  LogRunStart();
  ClassifyDrives();
}

int Demo(const std::string& dir) {
  DemoDrives drives;
  std::string error = MakeDemoDrives(dir, &drives);
  if (!error.empty()) {
    Complain(error);
    return -1;
  }
  std::printf(
      "Sample drives written:\n"
      "  %s  an old ReplayTV disk (standard byte order, 1 GB)\n"
      "  %s  a blank disk (3 GB)\n"
      "Use them with these options:\n"
      "--drive %s --drive %s\n",
      ShownPath(drives.old_path).c_str(), ShownPath(drives.new_path).c_str(),
      ShownPath(drives.old_path).c_str(), ShownPath(drives.new_path).c_str());
  std::fflush(stdout);
  return 0;
}

int RunCommand(const CliRequest& request) {
  const bool terminal = ::isatty(STDIN_FILENO) == 1;
  TransferMeter meter;
  ProgressDisplay progress(stderr, ::isatty(STDERR_FILENO) == 1,
                           [&meter] { return meter.transferred(); });
  TerminalFrontEnd front_end(PolicyFor(request, terminal), stdout, stderr, stdin, &progress);
  front_end.SetQuiet(request.quiet);
  Registration registration(&front_end);
  const std::string log_path = SetUpLogFile(request.log_path);
  if (!request.quiet)
    std::fprintf(stderr, "Log file: %s\n", ShownPath(log_path).c_str());

  if (request.command == Command::kDemo) {
    LogRunStart();
    return Demo(request.path) == 0 ? kExitDone : kExitFailed;
  }

  StartRun(request);
  if (std::string missing = MissingChoice(request, terminal); !missing.empty()) {
    Complain("no terminal to ask " + missing +
             "; every question is answered No and nothing is written");
    front_end.DeclineEverything();
  }
  if (request.command == Command::kPatch && request.photo_sectors != 0 &&
      DriveAt(request.drives[0]).rtv4000 == 0) {
    Complain("note: --photo applies to disks in RTV4000 byte order only");
  }
  CatchStopSignals();
  int result = OperateWithUndo(request);
  if (result != 0 && CopyStopRequested())  // one that finished despite a Ctrl-C exits 0
    return kExitInterrupted;
  return result == 0 && !front_end.unanswered() ? kExitDone : kExitFailed;
}

int RunCommandLine(const std::vector<std::string>& args) {
  ParseResult parsed = ParseCliArguments(args);
  if (!parsed.ok()) {
    Complain(parsed.error);
    std::fputs(ShortUsage(parsed.request.command).c_str(), stderr);
    return kExitUsage;
  }
  const CliRequest& request = parsed.request;
  if (request.version && !request.help) {
    std::printf("%s\n", VersionLogLine().c_str());
    return kExitDone;
  }
  if (request.help) {
    std::fputs(
        (request.command == Command::kNone ? GeneralHelp() : CommandHelp(request.command)).c_str(),
        stdout);
    return kExitDone;
  }
  std::string problem = DrivePathsProblem(request.drive_paths);
  if (problem.empty())
    problem = LogPathProblem(request);
  if (!problem.empty()) {
    Complain(problem);
    std::fputs(ShortUsage(request.command).c_str(), stderr);
    return kExitUsage;
  }
  return RunCommand(request);
}

}  // namespace

int RunCli(const std::vector<std::string>& args) {
  IgnoreBrokenPipes();
  int result = RunCommandLine(args);
  // Results that did not reach standard output (a full disk, a reader gone) are no success.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    Complain("the results could not be written to standard output");
    return result == kExitDone ? kExitFailed : result;
  }
  return result;
}

}  // namespace quillmar::cli
