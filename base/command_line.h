// The start-up command line shared by both binaries: "--drive PATH" options (repeatable) and
// "--log FILE" are taken out first; what remains is read as the classic tail of two optional
// numbers, the drive-size limit in sectors and the MPEG cluster-size override in bytes.
#pragma once

#include <string>
#include <vector>

namespace quillmar {

struct StartupOptions {
  std::vector<std::string> drive_paths;    // the drives 0, 1, 2, ... instead of the machine's disks
  std::vector<std::string> other_options;  // the other options: "--name" or "-x" (not "-5")
  std::string tail;                        // the remaining arguments joined by blanks
  bool missing_drive_argument = false;     // "--drive" was the last argument
  std::string log_path;                    // --log FILE; "" for the default place
  bool missing_log_argument = false;       // "--log" without a file
};

// Splits argv (without the program name) into the --drive paths and the numeric tail. The tail
// is what a raw command line holds: an argument that is empty or has white space is quoted, so
// that it keeps its place ("" 262144: no limit, cluster size 262144).
StartupOptions SplitStartupArguments(const std::vector<std::string>& args);

// Reads the tail into g_maxDriveSectors and g_mpegClusterOverride with atol's rules: the first
// number (0 or none: the default limit), then, after the first white-space character, the second. A
// number that does not fit its setting is not wrapped: a negative limit or one above 4294967295
// is taken as 4294967295, a cluster size outside 32 signed bits is ignored; each leaves a line in
// g_settingNotes.
void ApplyCommandLineTail(const std::string& tail);

// The text after the program's name on a raw command line: a quoted name runs to the next
// double quote, otherwise to the first character of code 32 or less; blanks after it are skipped.
std::string CommandLineTail(const std::string& command_line);

}  // namespace quillmar
