// The command line of quillmar-cli: global options (--drive, --limit, --cluster, --yes, --quiet,
// --log, --version), one
// command with its operands, and the command's own answer flags. Parsing only checks and
// converts; nothing here touches a drive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmar::cli {

enum class Command {
  kNone,
  kList,
  kInspect,
  kMirror,
  kCopyMpeg,
  kCopyPhoto,
  kPatch,
  kJoin,
  kBackup,
  kRestore,
  kDemo,
  kUndo,
  kVerify,
};

// How the patch answers its MPEG questions: keep (no reset), reset (reset, no reformat),
// reformat (reset, then reformat); unset: the questions are asked.
enum class MpegChoice { kAsk, kKeep, kReset, kReformat };

struct CliRequest {
  Command command = Command::kNone;
  bool help = false;     // --help: the command's help (or the general one) instead of running it
  bool yes = false;      // --yes: Yes to every confirmation and warning
  bool version = false;  // --version: the version line instead of running a command
  bool quiet = false;    // --quiet: log lines go only to the log file, not to the terminal
  bool json = false;     // --json: list prints the drive table as JSON
  std::string log_path;  // --log FILE; "" for the default place
  std::vector<std::string> drive_paths;
  std::optional<uint32_t> limit_sectors;  // --limit
  std::optional<int32_t> cluster_bytes;   // --cluster

  // Operands. Drive indexes in the order the command names them (DRIVE; SOURCE TARGET;
  // DRIVE1 DRIVE2); path is backup's and restore's FILE and demo's DIR.
  std::vector<int> drives;
  std::string path;

  // Answers given as flags.
  uint32_t photo_sectors = 0;  // --photo, 0 for "No change"
  MpegChoice mpeg = MpegChoice::kAsk;
  std::optional<bool> format_photo;  // --format-photo yes|no
  std::optional<bool> reset;         // --reset yes|no

  // Safety nets.
  std::string undo_file;               // --undo FILE
  std::optional<uint64_t> undo_limit;  // --undo-limit BYTES
  bool force = false;                  // --force (undo)
  bool verify = false;                 // --verify
  std::string ranges = "all";          // verify's system|mpeg|photo|all
};

struct ParseResult {
  CliRequest request;
  std::string error;  // empty when the command line is usable
  bool ok() const { return error.empty(); }
};

// args without the program name.
ParseResult ParseCliArguments(const std::vector<std::string>& args);

// The command's name as typed ("copy-mpeg"), or "" for kNone.
std::string_view CommandName(Command command);

// The two numbers as the window's command line gives them ("LIMIT CLUSTER", 0 for an absent
// one), ready for ApplyCommandLineTail.
std::string StartupTail(const CliRequest& request);

}  // namespace quillmar::cli
