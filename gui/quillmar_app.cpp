#include "gui/quillmar_app.h"

#include <cstdio>

#include "base/command_line.h"
#include "gui/quillmar_dlg.h"
#include "disk/drive_map.h"

namespace quillmar {
namespace {

constexpr char kUsage[] =
    "usage: quillmar [--drive PATH]... [SIZE_LIMIT [CLUSTER_SIZE]]\n"
    "  --drive PATH   use this image file or device as the next drive (0, 1, 2, ...)\n"
    "                 instead of the machine's disks; may be given up to 16 times\n"
    "  SIZE_LIMIT     largest drive size in 512-byte sectors (0: 2000000000, 1024 GB)\n"
    "  CLUSTER_SIZE   MPEG cluster size in bytes for a reformat with larger clusters\n";

}  // namespace

int CQuillmarApp::InitInstance(const std::vector<std::string>& args) {
  const StartupOptions options = SplitStartupArguments(args);
  if (WantsUsage(args))
    return ShowUsage();
  for (const std::string& option : options.other_options) {
    std::fprintf(stderr, "quillmar: unknown option %s\n%s", option.c_str(), kUsage);
    return 2;
  }
  if (options.missing_drive_argument) {
    std::fprintf(stderr, "quillmar: --drive needs a path\n%s", kUsage);
    return 2;
  }
  if (std::string problem = DrivePathsProblem(options.drive_paths); !problem.empty()) {
    std::fprintf(stderr, "quillmar: %s\n%s", problem.c_str(), kUsage);
    return 2;
  }
  if (!options.drive_paths.empty())
    SetDrivePaths(options.drive_paths);
  ApplyCommandLineTail(options.tail);

  CQuillmarDlg dlg;
  dlg.exec();
  return 0;
}

bool CQuillmarApp::WantsUsage(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--help")
      return true;
  }
  return false;
}

int CQuillmarApp::ShowUsage() {
  std::fputs(kUsage, stdout);
  return 0;
}

}  // namespace quillmar
