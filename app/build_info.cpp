#include "app/build_info.h"

namespace quillmar {

std::string BuildDateTime() {
  return __DATE__ ", " __TIME__;
}

std::string VersionLogLine() {
  return std::string(kVersionText) + ", built on " + BuildDateTime();
}

}  // namespace quillmar
