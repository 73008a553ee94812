#include "ops/banner.h"

#include "base/log.h"

namespace quillmar {
namespace {

constexpr size_t kBannerWidth = 45;
constexpr const char* kTitleOpen = "***** ";
constexpr const char* kTitleClose = "*****";
constexpr size_t kTitleWidth = kBannerWidth - 6 - 5;

}  // namespace

std::string BannerTitleLine(const std::string& title) {
  std::string padded = title.substr(0, kTitleWidth);
  padded.resize(kTitleWidth, ' ');
  return kTitleOpen + padded + kTitleClose;
}

void LogBanner(std::initializer_list<const char*> titles) {
  const std::string stars(kBannerWidth, '*');
  LogLine(stars);
  for (const char* title : titles)
    LogLine(BannerTitleLine(title));
  LogLine(stars);
}

void LogCopyCompleteBanner() {
  LogLine("");
  LogBanner({"Copy Complete"});
  LogLine("");
}

}  // namespace quillmar
