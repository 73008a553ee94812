// Runs the built quillmar-cli as a child process, the way a script or a user at a terminal runs
// it, and fingerprints image files so a test can tell whether anything was written.
#pragma once

#include <sys/types.h>
#include <functional>
#include <string>
#include <vector>

namespace quillmar::testing {

struct CliRun {
  int status = -1;  // the exit status; 128 + signal when the child was killed
  std::string out;  // standard output
  std::string err;  // standard error (for a terminal run: everything, the terminal shows it all)
};

// Standard input is /dev/null (not a terminal); cwd is where "quillmar.log" lands. on_output,
// if given, sees the child's process id and its output so far each time more arrives.
using OutputWatcher = std::function<void(pid_t, const CliRun&)>;
CliRun RunCliBinary(const std::vector<std::string>& args, const std::string& cwd,
                    const OutputWatcher& on_output = {});

// Standard streams /dev/null; the child is killed (SIGKILL) as soon as kill_when() holds. Its exit
// status (137 when killed).
int RunCliUntil(const std::vector<std::string>& args, const std::string& cwd,
                const std::function<bool()>& kill_when);

// On a pseudo-terminal: each time a "[y/N]" prompt appears, the next answer is typed. An answer
// that begins with "\x03" is a Ctrl-C typed first, and the rest 0.3 s later.
CliRun RunCliOnTerminal(const std::vector<std::string>& args, const std::string& cwd,
                        const std::vector<std::string>& answers);

// The data extents of a sparse file with their contents, hashed: equal exactly when no byte was
// written (a write of zeros into a hole makes a new extent and changes it too).
std::string ImageFingerprint(const std::string& path);

// A shell command line's exit status and standard output (its standard error is the test's).
CliRun RunTool(const std::string& command_line);
// The whole content of a text file; "" when it cannot be read.
std::string ReadText(const std::string& path);

bool Contains(const std::string& text, const std::string& fragment);
// The row of drive index in the table of a 'list' output ("" when there is none).
std::string ListRow(const std::string& list_output, int index);
// Whether that row ends with the status (after the column gap).
bool RowEndsWith(const std::string& list_output, int index, const std::string& status);

}  // namespace quillmar::testing
