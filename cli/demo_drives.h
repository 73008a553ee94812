// Two sample drives as sparse image files, for trying the whole upgrade without real disks:
// an old ReplayTV disk in standard byte order (partition block, a small synthetic system
// partition and a freshly formatted MPEG partition that fill the disk) and a larger blank disk.
#pragma once

#include <cstdint>
#include <string>

namespace quillmar::cli {

inline constexpr uint32_t kDemoOldSectors = 2097152;   // 1 GiB
inline constexpr uint32_t kDemoNewSectors = 6291456;   // 3 GiB
inline constexpr uint32_t kDemoSystemSectors = 40000;  // partition 1
inline constexpr uint32_t kDemoMpegClusterBytes = 262144;

struct DemoDrives {
  std::string old_path;  // DIR/old.img
  std::string new_path;  // DIR/new.img
};

// Writes both images into dir (created when missing). Existing images are never overwritten.
// "" when both were written, otherwise what went wrong (a half-written image is removed).
std::string MakeDemoDrives(const std::string& dir, DemoDrives* drives);

}  // namespace quillmar::cli
