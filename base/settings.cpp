#include "base/settings.h"

namespace quillmar {

uint32_t g_maxDriveSectors = kNoDriveSizeLimit;
int32_t g_mpegClusterOverride = 0;
std::vector<std::string> g_settingNotes;

void ResetSettings() {
  g_maxDriveSectors = kNoDriveSizeLimit;
  g_mpegClusterOverride = 0;
  g_settingNotes.clear();
}

}  // namespace quillmar
