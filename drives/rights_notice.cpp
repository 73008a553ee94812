#include "drives/rights_notice.h"

#include <unistd.h>

#include "base/log.h"
#include "disk/drive_map.h"

namespace quillmar {

void ExplainMissingRights() {
  if (::geteuid() == 0 || DrivePathsGiven())
    return;
  LogAndShow(
      "Quillmar needs administrator rights to read and write the machine's disks.\n"
      "Start it from the desktop's menu, which asks for your password, or from a\n"
      "terminal with: sudo quillmar\n"
      "To work on image files instead, name them: quillmar --drive FILE",
      "Administrator rights needed");
}

}  // namespace quillmar
