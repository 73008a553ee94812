#include "base/command_line.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>

#include "base/settings.h"

namespace quillmar {
namespace {

// An argument as it stands in a raw command line: quoted when it is empty or holds white space,
// so that it keeps its place and is not read as a number.
std::string TailArgument(const std::string& arg) {
  for (char c : arg) {
    if (std::isspace(static_cast<unsigned char>(c)))
      return '"' + arg + '"';
  }
  return arg.empty() ? "\"\"" : arg;
}

// An option: "--" and a name, or "-" and a letter; "-5" is a number, "" and "-" are no options.
bool IsOption(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-' &&
         (arg[1] == '-' || !std::isdigit(static_cast<unsigned char>(arg[1])));
}

// atol's reading of the number at text (0 when there is none), without its wrap: strtoll takes
// a number too large for 64 bits as the largest. The digits read go to *digits.
long long ReadNumber(const char* text, std::string* digits) {
  char* end = nullptr;
  long long value = std::strtoll(text, &end, 10);
  while (std::isspace(static_cast<unsigned char>(*text)))
    ++text;
  *digits = std::string(text, end > text ? end : text);
  return value;
}

}  // namespace

StartupOptions SplitStartupArguments(const std::vector<std::string>& args) {
  StartupOptions options;
  bool first_number = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--drive") {
      if (i + 1 == args.size()) {
        options.missing_drive_argument = true;
        break;
      }
      options.drive_paths.push_back(args[++i]);
    } else if (arg.rfind("--drive=", 0) == 0) {
      options.drive_paths.push_back(arg.substr(8));
    } else if (arg == "--log" || arg.rfind("--log=", 0) == 0) {
      const bool separate = arg == "--log";
      if (separate && i + 1 == args.size()) {
        options.missing_log_argument = true;
        break;
      }
      options.log_path = separate ? args[++i] : arg.substr(6);
      options.missing_log_argument = options.log_path.empty();
    } else if (IsOption(arg)) {
      options.other_options.push_back(arg);
    } else {
      if (!first_number)
        options.tail += ' ';
      options.tail += TailArgument(arg);
      first_number = false;
    }
  }
  return options;
}

void ApplyCommandLineTail(const std::string& tail) {
  g_settingNotes.clear();
  const char* text = tail.c_str();
  std::string digits;
  long long limit = ReadNumber(text, &digits);
  if (limit < 0 || limit > UINT32_MAX) {
    g_settingNotes.push_back("Drive size limit " + digits +
                             " is out of range: taking the largest, 4294967295 sectors");
    limit = UINT32_MAX;
  }
  g_maxDriveSectors = static_cast<uint32_t>(limit);
  if (g_maxDriveSectors == 0)
    g_maxDriveSectors = kNoDriveSizeLimit;
  const char* walk = text;
  while (*walk != '\0' && !std::isspace(static_cast<unsigned char>(*walk)))
    ++walk;
  if (*walk == '\0')
    return;
  long long cluster = ReadNumber(walk, &digits);
  if (cluster < INT32_MIN || cluster > INT32_MAX) {
    g_settingNotes.push_back("MPEG cluster size " + digits +
                             " is out of range: ignored, no cluster size override");
    return;
  }
  g_mpegClusterOverride = static_cast<int32_t>(cluster);
}

std::string CommandLineTail(const std::string& command_line) {
  size_t pos = 0;
  if (!command_line.empty() && command_line[0] == '"') {
    pos = command_line.find('"', 1);
    pos = pos == std::string::npos ? command_line.size() : pos + 1;
  } else {
    while (pos < command_line.size() && static_cast<unsigned char>(command_line[pos]) > 32)
      ++pos;
  }
  while (pos < command_line.size() && static_cast<unsigned char>(command_line[pos]) <= 32)
    ++pos;
  return command_line.substr(pos);
}

}  // namespace quillmar
