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

  // A command line the window cannot use (an unknown option, an option without its value, drive
  // paths it refuses): shown with the usage, 2; otherwise 0.
  static int CheckArguments(const std::vector<std::string>& args);
  // Whether there is a window system to start: a display in the environment (DISPLAY,
  // WAYLAND_DISPLAY) or a platform chosen for Qt (QT_QPA_PLATFORM, -platform). Without one Qt
  // would abort; ShowNoDisplay says so instead (after the command line's own problems, 2), 1.
  static bool DisplayAvailable(const std::vector<std::string>& args);
  static int ShowNoDisplay(const std::vector<std::string>& args);
};

}  // namespace quillmar
