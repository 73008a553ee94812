// The application: reads the command line into the process-wide settings and the drive map,
// then runs the main window until it closes. The window's loop is the program's only loop.
#pragma once

#include <string>
#include <vector>

namespace quillmar {

class CQuillmarApp {
 public:
  // args: the command line without the program's name (Qt's own options already taken out).
  // Returns the process's exit status: 0, or 2 for a command line it cannot use.
  int InitInstance(const std::vector<std::string>& args);

  // "--help" or "--version" anywhere on the command line: the usage or the version line goes to
  // stdout and no window opens (looked for before the window system starts, so it works
  // without a display). The first of the two named wins.
  static bool WantsUsage(const std::vector<std::string>& args);
  static int ShowUsage(const std::vector<std::string>& args);
};

}  // namespace quillmar
