#include "base/build_info.h"

#include "base/log.h"
#include "base/settings.h"

namespace quillmar {

std::string BuildDateTime() {
  return __DATE__ ", " __TIME__;
}

std::string VersionLogLine() {
  return std::string(kVersionText) + ", built on " + BuildDateTime();
}

void LogRunStart() {
  LogLine(VersionLogLine());
  for (const std::string& note : g_settingNotes)
    LogLine(note);
  // Unsigned: a limit above 2^31 sectors is shown as given, not as a negative number.
  if (g_maxDriveSectors != kNoDriveSizeLimit)
    LogLine(Format("Drive size will be limited to %u sectors", g_maxDriveSectors));
}

}  // namespace quillmar
