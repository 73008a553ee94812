#include "disk/drive_identity.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

#include "base/byte_order.h"
#include "disk/sysfs_attribute.h"

namespace quillmar {
namespace {

namespace fs = std::filesystem;

// Loop devices over loop devices over partitions... end here.
constexpr int kMaxDepth = 8;

// The device number in a sysfs "dev" attribute.
std::optional<dev_t> ReadDeviceNumber(const fs::path& file) {
  std::optional<std::string> text = ReadAttribute(file);
  unsigned major_number = 0;
  unsigned minor_number = 0;
  if (!text || !ParseDeviceNumber(*text, &major_number, &minor_number))
    return std::nullopt;
  return makedev(major_number, minor_number);
}

uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
  return b > UINT64_MAX - a ? UINT64_MAX : a + b;
}

// The part [offset, offset + length) of outer (length 0: up to outer's end).
DriveExtent Part(DriveExtent outer, uint64_t offset, uint64_t length) {
  outer.first = std::min(SaturatingAdd(outer.first, offset), outer.end);
  if (length != 0)
    outer.end = std::min(outer.end, SaturatingAdd(outer.first, length));
  return outer;
}

DriveExtent ExtentOfPath(const std::string& path, int depth);

// A block device by its number: a partition is a part of its parent, a loop device a part of its
// backing file, anything else a whole disk of the size sysfs gives.
DriveExtent ExtentOfBlockDevice(dev_t number, int depth) {
  fs::path folder = fs::path("/sys/dev/block") /
                    (std::to_string(major(number)) + ":" + std::to_string(minor(number)));
  std::error_code error;
  if (depth < kMaxDepth && fs::exists(folder / "partition", error)) {
    fs::path parent = fs::canonical(folder, error).parent_path();
    std::optional<dev_t> parent_number = ReadDeviceNumber(parent / "dev");
    std::optional<uint64_t> start = ReadNumber(folder / "start");
    std::optional<uint64_t> size = ReadNumber(folder / "size");
    if (!error && parent_number && start && size && *size != 0) {
      return Part(ExtentOfBlockDevice(*parent_number, depth + 1), *start * kBlockSize,
                  *size * kBlockSize);
    }
  }
  std::optional<std::string> backing = ReadAttribute(folder / "loop" / "backing_file");
  if (depth < kMaxDepth && backing && !backing->empty()) {
    DriveExtent file = ExtentOfPath(*backing, depth + 1);
    if (file.known) {
      return Part(file, ReadNumber(folder / "loop" / "offset").value_or(0),
                  ReadNumber(folder / "loop" / "sizelimit").value_or(0));
    }
  }
  DriveExtent disk;
  disk.known = true;
  disk.block_device = true;
  disk.device = number;
  if (std::optional<uint64_t> size = ReadNumber(folder / "size"); size && *size != 0)
    disk.end = *size * kBlockSize;
  return disk;
}

DriveExtent ExtentOfPath(const std::string& path, int depth) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return {};
  if (S_ISBLK(st.st_mode))
    return ExtentOfBlockDevice(st.st_rdev, depth);
  DriveExtent file;
  file.known = true;
  file.device = st.st_dev;
  file.inode = st.st_ino;
  if (major(st.st_dev) != 0)  // 0: a file system without a block device (tmpfs, overlay, ...)
    file.holder = st.st_dev;
  if (S_ISREG(st.st_mode))
    file.end = static_cast<uint64_t>(st.st_size);
  return file;
}

bool SameObject(const DriveExtent& a, const DriveExtent& b) {
  return a.block_device == b.block_device && a.device == b.device && a.inode == b.inode;
}

// Two ranges of one file or one disk.
DiskRelation RangeRelation(const DriveExtent& a, const DriveExtent& b) {
  if (a.first == b.first && a.end == b.end)
    return DiskRelation::kSame;
  bool shared = std::max(a.first, b.first) < std::min(a.end, b.end);
  return shared ? DiskRelation::kOverlapping : DiskRelation::kSeparate;
}

DiskRelation Relation(const DriveExtent& a, const DriveExtent& b, int depth);

// Whether the file lies within what other reaches: on a file system of other's disk, or on a
// file system in other's file (through a loop device). Two files of one file system do not.
bool LiesWithin(const DriveExtent& file, const DriveExtent& other, int depth) {
  if (file.block_device || file.holder == 0 || depth >= kMaxDepth)
    return false;
  DriveExtent container = ExtentOfBlockDevice(file.holder, 0);
  if (!container.block_device)  // a loop device over another file holds the file system
    return Relation(container, other, depth + 1) != DiskRelation::kSeparate;
  return SameObject(container, other) && RangeRelation(container, other) != DiskRelation::kSeparate;
}

DiskRelation Relation(const DriveExtent& a, const DriveExtent& b, int depth) {
  if (!a.known || !b.known)
    return DiskRelation::kSeparate;
  if (SameObject(a, b))
    return RangeRelation(a, b);
  bool within = LiesWithin(a, b, depth) || LiesWithin(b, a, depth);
  return within ? DiskRelation::kOverlapping : DiskRelation::kSeparate;
}

}  // namespace

DriveExtent ExtentOf(const std::string& path) {
  return ExtentOfPath(path, 0);
}

DiskRelation RelationOf(const DriveExtent& a, const DriveExtent& b) {
  return Relation(a, b, 0);
}

DiskRelation DiskRelationOf(const std::string& a, const std::string& b) {
  return RelationOf(ExtentOf(a), ExtentOf(b));
}

}  // namespace quillmar
