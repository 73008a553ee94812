// The frame of every operation in the log: three lines of 45 characters (45 asterisks, the title
// between "***** " and "*****" padded with blanks, 45 asterisks again).
#pragma once

#include <initializer_list>
#include <string>

namespace quillmar {

// "***** " + title padded with blanks + "*****", 45 characters (a longer title is cut).
std::string BannerTitleLine(const std::string& title);

// Logs 45 asterisks, one title line per entry and 45 asterisks again.
void LogBanner(std::initializer_list<const char*> titles);

// The end of every successful copy: an empty line, the "Copy Complete" banner, an empty line.
void LogCopyCompleteBanner();

}  // namespace quillmar
