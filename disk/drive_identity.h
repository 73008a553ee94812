// Which bytes a drive path reaches. Two names reach the same disk when they lead to the same
// file (the same path twice, a symbolic or a hard link) or the same block device, or when one is
// a loop device over the other; a partition device reaches a part of its whole disk, a loop
// device with an offset a part of its backing file, and an image file some part of the device
// that holds its file system. Found with stat() and the kernel's sysfs.
#pragma once

#include <cstdint>
#include <string>

namespace quillmar {

// What a path reaches: the byte range [first, end) of one file or one whole block device.
struct DriveExtent {
  bool known = false;  // false: the path could not be looked at (it reaches nothing known)
  bool block_device = false;
  uint64_t device = 0;  // the file's st_dev, or the whole disk's st_rdev
  uint64_t inode = 0;   // the file's st_ino (0 for a block device)
  uint64_t holder = 0;  // the block device that holds the file's file system (0: none)
  uint64_t first = 0;
  uint64_t end = UINT64_MAX;  // UINT64_MAX: to the end, wherever that is
};

enum class DiskRelation {
  kSeparate,     // no byte in common (or one of them unknown)
  kSame,         // the very same bytes: one disk under two names
  kOverlapping,  // some bytes in common: a partition and its disk, a file and the disk it is on
};

DriveExtent ExtentOf(const std::string& path);
DiskRelation RelationOf(const DriveExtent& a, const DriveExtent& b);
DiskRelation DiskRelationOf(const std::string& a, const std::string& b);

}  // namespace quillmar
