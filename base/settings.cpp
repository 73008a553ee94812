#include "base/settings.h"

namespace quillmar {

uint32_t g_maxDriveSectors = kNoDriveSizeLimit;
int32_t g_mpegClusterOverride = 0;

void ResetSettings() {
  g_maxDriveSectors = kNoDriveSizeLimit;
  g_mpegClusterOverride = 0;
}

}  // namespace quillmar
