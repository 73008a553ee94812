// The ways two drive paths reach one disk, listed once for the tests of every front-end.
#pragma once

#include <functional>
#include <list>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/loop_device.h"

namespace quillmar::testing {

struct DiskAlias {
  const char* name;
  bool needs_root;   // attaches loop devices
  bool overlapping;  // the names share some sectors only; otherwise they are the very same disk
  // The two names of the disk in image; devices go into *loops. A name is "" when a device
  // could not be made.
  std::function<std::pair<std::string, std::string>(const std::string& image,
                                                    std::list<LoopDevice>* loops)>
      names;
};

const std::vector<DiskAlias>& DiskAliases();

inline void PrintTo(const DiskAlias& alias, std::ostream* out) {
  *out << alias.name;
}

}  // namespace quillmar::testing
