// The ways two drive paths reach one disk, listed once for the tests of every front-end: the
// same path twice, links, a loop device over the image, and (sharing only some sectors) a loop
// device with an offset, a partition device beside its whole disk, and an image file on a file
// system of the disk.
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
  // The two names of the disk in image. Devices it attaches go into *loops, which detach them
  // when they go; a name is "" when a device could not be attached.
  std::function<std::pair<std::string, std::string>(const std::string& image,
                                                    std::list<LoopDevice>* loops)>
      names;
};

const std::vector<DiskAlias>& DiskAliases();

inline void PrintTo(const DiskAlias& alias, std::ostream* out) {
  *out << alias.name;
}

}  // namespace quillmar::testing
