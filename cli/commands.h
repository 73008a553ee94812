// Runs one quillmar-cli command line: parse, help or usage error, then the command on the
// drives with the terminal front-end. The result is the process's exit status.
#pragma once

#include <string>
#include <vector>

namespace quillmar::cli {

inline constexpr int kExitDone = 0;    // the operation finished
inline constexpr int kExitFailed = 1;  // failed, refused or declined
inline constexpr int kExitUsage = 2;   // the command line could not be used

// args without the program name.
int RunCli(const std::vector<std::string>& args);

}  // namespace quillmar::cli
