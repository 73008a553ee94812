// The help and usage texts of quillmar-cli.
#pragma once

#include <string>

#include "cli/cli_arguments.h"

namespace quillmar::cli {

// The whole help: synopsis, commands, global options, exit status (--help without a command).
std::string GeneralHelp();
// One command's help: synopsis, what it does, its flags, exit status.
std::string CommandHelp(Command command);
// The few lines printed after a usage error: the synopsis of the command (or of the program)
// and where to find more.
std::string ShortUsage(Command command);

}  // namespace quillmar::cli
