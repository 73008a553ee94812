// The program's one picture of the drives: 16 records, one per drive index, written only by the
// probe and the classification (drives/classify.h) and read by the front-ends and every operation.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "disk/device_io.h"

namespace quillmar {

inline constexpr int kMaxDrives = 16;
// The 137 GB limit of drives in standard byte order: 0xFF00000 sectors.
inline constexpr uint32_t k137GbSectors = 267386880u;
// Sectors per decimal gigabyte (1,953,125 × 512 = 10^9 bytes).
inline constexpr uint32_t kSectorsPerGb = 1953125u;

struct DriveInfo {
  std::string device_path;    // the mapped path: "/dev/sdb", "old.img"
  std::string model;          // model text or "Unknown"; empty: no drive at this index
  uint32_t size_sectors = 0;  // usable size; 0: no usable drive
  uint32_t p1_length = 0;
  uint32_t p2_length = 0;
  uint32_t p3_length = 0;
  uint32_t p4_length = 0;
  uint32_t p2_start = 0;
  uint32_t p3_start = 0;
  uint32_t size_gb = 0;
  int is_replaytv = 0;
  int rtv4000 = 0;
  int unreadable = 0;
  int dual_position = 0;           // 0 none, 1 disk 1 of 2, 2 disk 2 of 2
  uint64_t pair_space_offset = 0;  // of a pair's drive: where its part of the joined space begins
  uint64_t pair_drive_bytes = 0;  // and its length, in bytes (drive 2's offset is drive 1's length)
  int patched = 0;
  int system_disk = 0;
  uint32_t sector_bytes = 512;  // the logical sector size; a recorder can only use 512
  int64_t length_bytes = -1;    // as measured at the last classification (a swapped disk's differs)
  MediumId medium;              // likewise: the medium behind device_path then
};

extern std::array<DriveInfo, kMaxDrives> DriveTable;
extern std::array<uint32_t, kMaxDrives> g_detectedSectors;
extern std::array<uint32_t, kMaxDrives> g_forcedSectors;
extern bool g_probePending;

// The record of drive index 0..kMaxDrives-1 (callers check the index first).
inline DriveInfo& DriveAt(int index) {
  return DriveTable[static_cast<size_t>(index)];
}

// Clears the table, both size tables and sets g_probePending again (tests start clean).
void ResetDriveTable();

// The index of the first listed drive that path is, or shares sectors with (its image behind a
// loop device, a partition of it, a file on one of its file systems); -1 when none.
int ListedDriveSharingSectorsWith(const std::string& path);

}  // namespace quillmar
