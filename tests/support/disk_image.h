// Disk-image fixtures: sparse image files (a 300,000,000-sector disk costs only the sectors
// written) holding blank, recorder, two-drive and PC disks, and helpers to read, write, hash and
// compare them. They reach the files straight through POSIX, never through a test's fake
// DeviceIo. Builders return an AssertionResult: ASSERT_TRUE(MakeReplayTvDisk(path, disk)).
// The recorder file systems are written by the project's FormatPartition, which logs: build
// images before installing a fake DeviceIo or the ScriptedFrontEnd whose lines a test checks.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/byte_order.h"

namespace quillmar::testing {

// Creates (or truncates and recreates) an all-zero image of the given number of sectors.
::testing::AssertionResult MakeBlankImage(const std::string& path, uint64_t sectors);

// A pattern sector: an 8-byte tag ("QSYSPART", "QRECORD!"), the 64-bit key (little-endian),
// then bytes derived from both. The builders key each sector by its own sector number.
enum class Pattern { kSystem, kRecording };
// Sectors first .. first+count-1 hold the pattern with keys first_key, first_key+1, ...
::testing::AssertionResult HasPattern(const std::string& path, uint64_t first, uint64_t count,
                                      Pattern pattern, uint64_t first_key);

struct SectorRun {
  uint64_t first = 0;
  uint64_t count = 0;
};

// A recorder disk: partition block in sector 0, system partition 1 from sector 2 (filled with
// Pattern::kSystem), partition 2 (MPEG) from p1_length + 2, an optional Photo partition 3 at
// the end of the layout.
struct ReplayTvDisk {
  uint64_t disk_sectors = 0;  // size of the image file
  bool rtv4000 = false;       // every block stored in RTV4000 order
  uint32_t p1_length = 4000;
  // Sectors the partition block describes; 0: the whole disk (patched). Smaller than
  // disk_sectors: an old layout copied onto a bigger disk.
  uint64_t layout_sectors = 0;
  uint32_t mpeg_cluster_size = 262144;  // of the "mpeg" file system; 0: partition 2 all zero
  uint32_t photo_sectors = 0;           // 0: no Photo partition (entry 3 zero)
  // Runs of absolute sectors filled with Pattern::kRecording, written last (over metadata too).
  std::vector<SectorRun> recordings = {};
  bool stale_pair_block = false;  // sector 1: a first-drive volume sequence block left from a pair
};

// Where the partitions of a ReplayTvDisk lie (sectors), as its partition block records them.
struct ReplayTvGeometry {
  uint32_t p2_start = 0;
  uint32_t p2_length = 0;
  uint32_t p3_start = 0;  // 0 without a Photo partition
  uint32_t p3_length = 0;
};
ReplayTvGeometry Geometry(const ReplayTvDisk& disk);

// A recorder disk with the fields tests vary most.
inline ReplayTvDisk Recorder(uint64_t sectors, bool rtv4000 = false, uint64_t layout = 0,
                             uint32_t photo = 0) {
  return {.disk_sectors = sectors,
          .rtv4000 = rtv4000,
          .layout_sectors = layout,
          .photo_sectors = photo};
}

::testing::AssertionResult MakeReplayTvDisk(const std::string& path, const ReplayTvDisk& disk);

// A two-drive system as the joining leaves it, in drive 1's byte order. Drive 1 holds the
// partition block in joined sector numbers (layout_sectors 0: first + second - 2), the system
// partition, the MPEG file system's start and the first volume sequence block; drive 2 an empty
// partition block, the second volume sequence block and the Photo partition (joined sector L is
// sector L - first + 2 on drive 2). Recordings are absolute sectors of drive 1.
::testing::AssertionResult MakeReplayTvPair(const std::string& path1, const std::string& path2,
                                            const ReplayTvDisk& first, uint64_t second_sectors);

enum class PcDisk {
  kNtfs,   // MBR, entry 1 type 0x07
  kLinux,  // MBR, entry 1 type 0x83
};
// At least 8192 sectors; the partition starts at sector 2048.
::testing::AssertionResult MakePcDisk(const std::string& path, uint64_t sectors, PcDisk kind);

// Reads add a test failure when short and return what could be read, zero-filled.
std::vector<uint8_t> ReadSectors(const std::string& path, uint64_t first, uint64_t count);
std::vector<uint8_t> ReadBytes(const std::string& path, uint64_t offset, size_t count);
// Writes without truncating the file.
::testing::AssertionResult WriteSectors(const std::string& path, uint64_t first,
                                        std::span<const uint8_t> bytes);
::testing::AssertionResult WriteBytes(const std::string& path, uint64_t offset,
                                      std::span<const uint8_t> bytes);
// One sector, in standard order.
Sector ReadSector(const std::string& path, uint64_t sector, bool rtv4000);
int64_t FileSize(const std::string& path);  // -1 when there is no such file

// A hash of size and contents that reads only data extents; all-zero 4 KiB blocks count as
// holes, so equal bytes hash equal however they were written.
uint64_t ImageHash(const std::string& path);
// Copies an image keeping it sparse.
::testing::AssertionResult CopyImage(const std::string& from, const std::string& to);
// Byte-identical images, or a failure naming the first differing sector.
::testing::AssertionResult ImagesEqual(const std::string& expected, const std::string& actual);

}  // namespace quillmar::testing
