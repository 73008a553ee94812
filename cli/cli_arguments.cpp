#include "cli/cli_arguments.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <limits>
#include <string_view>

#include "disk/drive_table.h"
#include "ops/photo_sizes.h"

namespace quillmar::cli {
namespace {

// The answer flags, as a bit set of what a command accepts and what a command line used.
enum AnswerFlag : unsigned {
  kPhotoFlag = 1u << 0,
  kMpegFlag = 1u << 1,
  kFormatPhotoFlag = 1u << 2,
  kResetFlag = 1u << 3,
  kUndoFlag = 1u << 4,
  kForceFlag = 1u << 5,
  kVerifyFlag = 1u << 6,
};

struct CommandSpec {
  Command command;
  std::string_view name;
  std::vector<std::string_view> operands;  // FILE and DIR are paths, the others drive indexes
  unsigned flags;
};

const std::vector<CommandSpec>& CommandSpecs() {
  static const std::vector<CommandSpec> specs = {
      {Command::kList, "list", {}, 0},
      {Command::kInspect, "inspect", {"DRIVE"}, 0},
      {Command::kMirror, "mirror", {"SOURCE", "TARGET"}, kUndoFlag | kVerifyFlag},
      {Command::kCopyMpeg, "copy-mpeg", {"SOURCE", "TARGET"}, kUndoFlag | kVerifyFlag},
      {Command::kCopyPhoto, "copy-photo", {"SOURCE", "TARGET"}, kUndoFlag | kVerifyFlag},
      {Command::kPatch, "patch", {"TARGET"}, kPhotoFlag | kMpegFlag | kFormatPhotoFlag | kUndoFlag},
      {Command::kJoin,
       "join",
       {"DRIVE1", "DRIVE2"},
       kPhotoFlag | kMpegFlag | kFormatPhotoFlag | kUndoFlag},
      {Command::kBackup, "backup", {"SOURCE", "FILE"}, kVerifyFlag},
      {Command::kRestore, "restore", {"FILE", "TARGET"}, kResetFlag | kUndoFlag | kVerifyFlag},
      {Command::kDemo, "demo", {"DIR"}, 0},
      {Command::kUndo, "undo", {"FILE"}, kUndoFlag | kForceFlag},
      {Command::kVerify, "verify", {"SOURCE", "TARGET"}, 0},
  };
  return specs;
}

const CommandSpec* FindCommand(std::string_view name) {
  for (const CommandSpec& entry : CommandSpecs()) {
    if (entry.name == name)
      return &entry;
  }
  return nullptr;
}

bool IsPathOperand(std::string_view operand) {
  return operand == "FILE" || operand == "DIR";
}

// A decimal number of digits only, at most max; nothing for anything else.
std::optional<uint64_t> ParseDecimal(const std::string& text, uint64_t max) {
  if (text.empty() || text.size() > 20)
    return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c)))
      return std::nullopt;
    unsigned digit = static_cast<unsigned>(c - '0');
    if (value > (max - digit) / 10)
      return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::string Lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::optional<uint32_t> ParsePhotoSize(const std::string& text) {
  for (const PhotoSize& size : kPhotoSizeSectors) {
    if (Lowercase(std::string(size.text)) == Lowercase(text))
      return size.sectors;
  }
  return std::nullopt;
}

std::optional<bool> ParseYesNo(const std::string& text) {
  std::string lower = Lowercase(text);
  if (lower == "yes" || lower == "y")
    return true;
  if (lower == "no" || lower == "n")
    return false;
  return std::nullopt;
}

std::optional<MpegChoice> ParseMpegChoice(const std::string& text) {
  std::string lower = Lowercase(text);
  if (lower == "keep")
    return MpegChoice::kKeep;
  if (lower == "reset")
    return MpegChoice::kReset;
  if (lower == "reformat")
    return MpegChoice::kReformat;
  return std::nullopt;
}

std::string FlagName(unsigned flag) {
  switch (flag) {
    case kPhotoFlag:
      return "--photo";
    case kMpegFlag:
      return "--mpeg";
    case kFormatPhotoFlag:
      return "--format-photo";
    case kUndoFlag:
      return "--undo";
    case kForceFlag:
      return "--force";
    case kVerifyFlag:
      return "--verify";
    default:
      return "--reset";
  }
}

// Walks the arguments once; the first problem found is the one reported.
class Parser {
 public:
  explicit Parser(const std::vector<std::string>& args) : args_(args) {}

  ParseResult Run() {
    for (index_ = 0; index_ < args_.size(); ++index_) {
      const std::string& arg = args_[index_];
      if (!options_done_ && arg == "--") {
        options_done_ = true;
      } else if (!options_done_ && arg.size() > 1 && arg[0] == '-') {
        ReadOption(arg);
      } else {
        positionals_.push_back(arg);
      }
    }
    ReadCommandAndOperands();
    // --help shows the help of the command named, whatever else is wrong with the line;
    // --version only the version line.
    if ((result_.request.help || result_.request.version) && !unknown_command_)
      result_.error.clear();
    return result_;
  }

 private:
  void Fail(const std::string& message) {
    if (result_.error.empty())
      result_.error = message;
  }

  // The option's value: after "=" in the same argument, or the next argument.
  std::optional<std::string> Value(const std::string& name,
                                   const std::optional<std::string>& inline_value) {
    if (inline_value)
      return inline_value;
    if (index_ + 1 < args_.size())
      return args_[++index_];
    Fail("option " + name + " needs a value");
    return std::nullopt;
  }

  void ReadOption(const std::string& arg) {
    std::string name = arg;
    std::optional<std::string> inline_value;
    if (size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      inline_value = arg.substr(eq + 1);
    }
    // "--yes=no" must not say yes: a switch given a value is refused, whatever the value.
    constexpr std::string_view kSwitches[] = {"--help", "--yes",   "--version", "--quiet",
                                              "--json", "--force", "--verify"};
    if (inline_value &&
        std::find(std::begin(kSwitches), std::end(kSwitches), name) != std::end(kSwitches)) {
      Fail("option " + name + " takes no value");
      return;
    }
    CliRequest& r = result_.request;
    if (name == "--help" || name == "-h") {
      r.help = true;
    } else if (name == "--yes" || name == "-y") {
      r.yes = true;
    } else if (name == "--version" || name == "-V") {
      r.version = true;
    } else if (name == "--quiet" || name == "-q") {
      r.quiet = true;
    } else if (name == "--json") {
      r.json = true;
    } else if (name == "--log") {
      if (auto v = Value(name, inline_value)) {
        if (v->empty())
          Fail("option --log needs a file");
        r.log_path = *v;
      }
    } else if (name == "--drive") {
      if (auto v = Value(name, inline_value)) {
        if (v->empty())
          Fail("option --drive needs a path");
        r.drive_paths.push_back(*v);
      }
    } else if (name == "--limit") {
      if (auto v = Value(name, inline_value)) {
        auto n = ParseDecimal(*v, std::numeric_limits<uint32_t>::max());
        if (!n)
          Fail("--limit takes a number of sectors (0 to 4294967295), not '" + *v + "'");
        else
          r.limit_sectors = static_cast<uint32_t>(*n);
      }
    } else if (name == "--cluster") {
      if (auto v = Value(name, inline_value)) {
        auto n = ParseDecimal(*v, std::numeric_limits<int32_t>::max());
        if (!n)
          Fail("--cluster takes a number of bytes (0 to 2147483647), not '" + *v + "'");
        else
          r.cluster_bytes = static_cast<int32_t>(*n);
      }
    } else if (name == "--photo") {
      used_flags_ |= kPhotoFlag;
      if (auto v = Value(name, inline_value)) {
        auto sectors = ParsePhotoSize(*v);
        if (!sectors)
          Fail("--photo takes a Photo partition size (\"No change\", 1MB ... 20GB), not '" + *v +
               "'");
        else
          r.photo_sectors = *sectors;
      }
    } else if (name == "--mpeg") {
      used_flags_ |= kMpegFlag;
      if (auto v = Value(name, inline_value)) {
        auto choice = ParseMpegChoice(*v);
        if (!choice)
          Fail("--mpeg takes keep, reset or reformat, not '" + *v + "'");
        else
          r.mpeg = *choice;
      }
    } else if (name == "--undo" || name == "--undo-limit") {
      used_flags_ |= kUndoFlag;
      undo_spelling_ = name;  // the one a refusal names
      if (auto v = Value(name, inline_value)) {
        auto n = ParseDecimal(*v, std::numeric_limits<uint64_t>::max());
        if (name == "--undo-limit" && !n)
          Fail("--undo-limit takes a number of bytes, not '" + *v + "'");
        else if (name == "--undo-limit")
          r.undo_limit = *n;
        else if (v->empty())
          Fail("option --undo needs a file name");
        else
          r.undo_file = *v;
      }
    } else if (name == "--force") {
      used_flags_ |= kForceFlag;
      r.force = true;
    } else if (name == "--verify") {
      used_flags_ |= kVerifyFlag;
      r.verify = true;
    } else if (name == "--format-photo" || name == "--reset") {
      bool photo = name == "--format-photo";
      used_flags_ |= photo ? kFormatPhotoFlag : kResetFlag;
      if (auto v = Value(name, inline_value)) {
        auto answer = ParseYesNo(*v);
        if (!answer)
          Fail(name + " takes yes or no, not '" + *v + "'");
        else
          (photo ? r.format_photo : r.reset) = answer;
      }
    } else {
      Fail("unknown option '" + arg + "'");
    }
  }

  void ReadCommandAndOperands() {
    CliRequest& r = result_.request;
    if (positionals_.empty()) {
      if (!r.help && !r.version)
        Fail("no command given");
      return;
    }
    const CommandSpec* entry = FindCommand(positionals_[0]);
    if (entry == nullptr) {
      unknown_command_ = true;
      Fail("unknown command '" + positionals_[0] + "'");
      return;
    }
    r.command = entry->command;
    for (unsigned flag : {kPhotoFlag, kMpegFlag, kFormatPhotoFlag, kResetFlag, kUndoFlag,
                          kForceFlag, kVerifyFlag}) {
      if ((used_flags_ & flag) != 0 && (entry->flags & flag) == 0) {
        Fail("option " + (flag == kUndoFlag ? undo_spelling_ : FlagName(flag)) +
             " does not apply to '" + std::string(entry->name) + "'");
      }
    }
    if (r.json && r.command != Command::kList)
      Fail("option --json does not apply to '" + std::string(entry->name) + "'");
    size_t given = positionals_.size() - 1;
    for (size_t i = 0; i < entry->operands.size(); ++i) {
      std::string operand(entry->operands[i]);
      if (i >= given) {
        Fail("missing " + operand);
        return;
      }
      const std::string& text = positionals_[i + 1];
      if (IsPathOperand(operand)) {
        if (text.empty())
          Fail(operand + " must not be empty");
        r.path = text;
      } else if (auto index = ParseDecimal(text, kMaxDrives - 1)) {
        r.drives.push_back(static_cast<int>(*index));
      } else {
        Fail(operand + " must be a drive index from 0 to 15 (as 'list' shows), not '" + text + "'");
      }
    }
    // verify takes the ranges after its two drives; any other word there is one too many
    size_t taken = entry->operands.size();
    if (r.command == Command::kVerify && given > taken) {
      r.ranges = Lowercase(positionals_[++taken]);
      if (r.ranges != "system" && r.ranges != "mpeg" && r.ranges != "photo" && r.ranges != "all")
        Fail("the ranges to verify are system, mpeg, photo or all, not '" + r.ranges + "'");
    }
    if (given > taken)
      Fail("unexpected argument '" + positionals_[taken + 1] + "'");
    // The window offers the join only for two different drives; joining a drive with itself
    // would clear its own partition table.
    if (r.command == Command::kJoin && r.drives.size() == 2 && r.drives[0] == r.drives[1]) {
      Fail("DRIVE1 and DRIVE2 must be two different drives");
    }
    if (r.undo_limit && r.undo_file.empty())
      Fail("--undo-limit applies with --undo FILE only");
  }

  const std::vector<std::string>& args_;
  size_t index_ = 0;
  bool options_done_ = false;
  bool unknown_command_ = false;
  unsigned used_flags_ = 0;
  std::string undo_spelling_;  // --undo or --undo-limit, as given last
  std::vector<std::string> positionals_;
  ParseResult result_;
};

}  // namespace

ParseResult ParseCliArguments(const std::vector<std::string>& args) {
  return Parser(args).Run();
}

std::string_view CommandName(Command command) {
  for (const CommandSpec& entry : CommandSpecs()) {
    if (entry.command == command)
      return entry.name;
  }
  return "";
}

std::string StartupTail(const CliRequest& request) {
  char text[40];
  std::snprintf(text, sizeof text, "%u %d", request.limit_sectors.value_or(0),
                request.cluster_bytes.value_or(0));
  return text;
}

}  // namespace quillmar::cli
