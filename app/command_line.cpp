#include "app/command_line.h"

#include <cctype>
#include <cstdlib>

#include "app/settings.h"

namespace quillmar {

StartupOptions SplitStartupArguments(const std::vector<std::string>& args) {
  StartupOptions options;
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
    } else if (arg.rfind("--", 0) == 0) {
      options.other_options.push_back(arg);
    } else {
      if (!options.tail.empty()) options.tail += ' ';
      options.tail += arg;
    }
  }
  return options;
}

void ApplyCommandLineTail(const std::string& tail) {
  const char* text = tail.c_str();
  g_maxDriveSectors = static_cast<uint32_t>(std::atol(text));
  if (g_maxDriveSectors == 0) g_maxDriveSectors = kNoDriveSizeLimit;
  const char* walk = text;
  while (*walk != '\0' && !std::isspace(static_cast<unsigned char>(*walk))) ++walk;
  if (*walk != '\0') g_mpegClusterOverride = static_cast<int32_t>(std::atol(walk));
}

std::string CommandLineTail(const std::string& command_line) {
  size_t pos = 0;
  if (!command_line.empty() && command_line[0] == '"') {
    pos = command_line.find('"', 1);
    pos = pos == std::string::npos ? command_line.size() : pos + 1;
  } else {
    while (pos < command_line.size() && static_cast<unsigned char>(command_line[pos]) > 32) ++pos;
  }
  while (pos < command_line.size() && static_cast<unsigned char>(command_line[pos]) <= 32) ++pos;
  return command_line.substr(pos);
}

}  // namespace quillmar
