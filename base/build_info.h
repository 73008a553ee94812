// The version and build stamp shown in the start-up log line and in the about box.
#pragma once

#include <string>

namespace quillmar {

inline constexpr char kVersionText[] = "Quillmar version 2.4";

// The compiler's build date and time, "Jan 19 2003, 12:54:57".
std::string BuildDateTime();

// "Quillmar version 2.4, built on Jan 19 2003, 12:54:57": the first line of every run's log.
std::string VersionLogLine();

// The first lines of a run's log, as both front-ends start: the version line, the notes about
// command-line numbers that did not fit, then the drive-size limit when one was set.
void LogRunStart();

}  // namespace quillmar
