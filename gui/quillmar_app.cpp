#include "gui/quillmar_app.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "base/build_info.h"
#include "base/command_line.h"
#include "base/log.h"
#include "base/shown_path.h"
#include "disk/drive_map.h"
#include "gui/quillmar_dlg.h"
#include "gui/window_geometry.h"

namespace quillmar {
namespace {

constexpr char kUsage[] =
    "Usage: quillmar [--drive PATH]... [--log FILE] [SIZE_LIMIT [CLUSTER_SIZE]]\n"
    "\n"
    "The desktop window that prepares hard disks for ReplayTV recorders: it lists the\n"
    "drives, copies a recorder's system area, MPEG and Photo partitions to a new disk,\n"
    "patches the new disk, joins two disks, and backs up and restores the system area.\n"
    "The machine's own disks need administrator rights: start it from the desktop's\n"
    "menu, which asks for the password, or with sudo quillmar.\n"
    "\n"
    "Options:\n"
    "  --drive PATH   use this image file or device as the next drive (0, 1, 2, ...)\n"
    "                 instead of the machine's disks; may be given up to 16 times\n"
    "  --log FILE     append the log to FILE instead of quillmar.log in the current\n"
    "                 folder (or, where that cannot be written or is /, in\n"
    "                 $XDG_STATE_HOME/quillmar/, by default ~/.local/state/quillmar/)\n"
    "  -h, --help     show this help\n"
    "  -V, --version  show the version line\n"
    "  SIZE_LIMIT     largest drive size in 512-byte sectors (0: 2000000000, 1024 GB)\n"
    "  CLUSTER_SIZE   MPEG cluster size in bytes for a reformat with larger clusters\n";

// Whether the environment variable name is set and not empty.
bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Whether Qt's platform name (options after ':') can start here: xcb needs DISPLAY, wayland
// WAYLAND_DISPLAY, linuxfb and eglfs their devices, offscreen, minimal and vnc nothing. Qt aborts
// on a platform it cannot start, and on one it does not know.
bool PlatformCanStart(const std::string& name_and_options) {
  const std::string name = name_and_options.substr(0, name_and_options.find(':'));
  struct stat st {};
  if (name == "xcb")
    return IsSet("DISPLAY");
  if (name == "wayland" || name.starts_with("wayland-"))
    return IsSet("WAYLAND_DISPLAY");
  if (name == "linuxfb")
    return ::stat("/dev/fb0", &st) == 0;
  if (name == "eglfs")
    return ::stat("/dev/dri", &st) == 0;
  return name == "offscreen" || name == "minimal" || name == "vnc";
}

// Qt's platforms as chosen for this start: -platform NAME, else QT_QPA_PLATFORM, a list tried in
// turn ("wayland;xcb"); "" when none is chosen.
std::string ChosenPlatforms(const std::vector<std::string>& args) {
  std::string platforms = IsSet("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "";
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "-platform" || args[i] == "--platform")
      platforms = args[i + 1];
  }
  return platforms;
}

}  // namespace

int CQuillmarApp::InitInstance(const std::vector<std::string>& args) {
  if (WantsUsage(args))
    return ShowUsage(args);
  if (const int problem = CheckArguments(args); problem != 0)
    return problem;
  const StartupOptions options = SplitStartupArguments(args);
  if (!options.drive_paths.empty())
    SetDrivePaths(options.drive_paths);
  ApplyCommandLineTail(options.tail);
  std::fprintf(stderr, "Log file: %s\n", ShownPath(SetUpLogFile(options.log_path)).c_str());

  CQuillmarDlg dlg;
  RestoreWindowGeometry(&dlg);
  dlg.exec();
  SaveWindowGeometry(&dlg);
  return 0;
}

int CQuillmarApp::CheckArguments(const std::vector<std::string>& args) {
  const StartupOptions options = SplitStartupArguments(args);
  for (const std::string& option : options.other_options) {
    std::fprintf(stderr, "quillmar: unknown option %s\n%s", ShownPath(option).c_str(), kUsage);
    return 2;
  }
  if (options.missing_drive_argument || options.missing_log_argument) {
    std::fprintf(stderr, "quillmar: %s\n%s",
                 options.missing_log_argument ? "--log needs a file" : "--drive needs a path",
                 kUsage);
    return 2;
  }
  std::string problem = DrivePathsProblem(options.drive_paths);
  if (problem.empty())
    problem = LogPathDrivesProblem(options.log_path, options.drive_paths);
  if (!problem.empty()) {
    std::fprintf(stderr, "quillmar: %s\n%s", problem.c_str(), kUsage);
    return 2;
  }
  return 0;
}

bool CQuillmarApp::DisplayAvailable(const std::vector<std::string>& args) {
  const std::string platforms = ChosenPlatforms(args);
  if (platforms.empty())
    return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
  for (size_t begin = 0; begin <= platforms.size();) {
    const size_t end = std::min(platforms.find(';', begin), platforms.size());
    if (PlatformCanStart(platforms.substr(begin, end - begin)))
      return true;
    begin = end + 1;
  }
  return false;
}

int CQuillmarApp::ShowNoDisplay(const std::vector<std::string>& args) {
  std::vector<std::string> ours;  // without Qt's choice of platform, which Qt takes out otherwise
  for (size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "-platform" || args[i] == "--platform") && i + 1 < args.size())
      ++i;
    else
      ours.push_back(args[i]);
  }
  if (const int problem = CheckArguments(ours); problem != 0)
    return problem;
  const std::string platforms = ChosenPlatforms(args);
  if (platforms.empty()) {
    std::fputs(
        "quillmar: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are not "
        "set).\n",
        stderr);
  } else {
    std::fprintf(stderr,
                 "quillmar: Qt's platform \"%s\" cannot open the window here (xcb needs DISPLAY,\n"
                 "wayland WAYLAND_DISPLAY; offscreen, minimal and vnc need no display).\n",
                 ShownPath(platforms).c_str());
  }
  std::fputs("quillmar-cli does the same work on a terminal: quillmar-cli --help\n", stderr);
  return 1;
}

bool CQuillmarApp::WantsUsage(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h" || arg == "--version" || arg == "-V")
      return true;
  }
  return false;
}

int CQuillmarApp::ShowUsage(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h")
      break;
    if (arg == "--version" || arg == "-V") {
      std::printf("%s\n", VersionLogLine().c_str());
      return 0;
    }
  }
  std::fputs(kUsage, stdout);
  return 0;
}

}  // namespace quillmar
