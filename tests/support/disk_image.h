// Disk-image fixtures for tests: sparse image files of any size holding blank disks, recorder
// disks in either byte order, two-drive pairs and PC disks, plus small utilities to read, write,
// hash and compare them.
//
// Every image is a sparse file: a 300,000,000-sector disk costs nothing but the sectors written.
// Builders return an AssertionResult, so use them as ASSERT_TRUE(MakeReplayTvDisk(path, disk)).
//
// The MPEG and Photo file systems are written with the project's own FormatPartition, through
// the process's DeviceIo and log facility: build images BEFORE installing a fake DeviceIo, and
// before creating the ScriptedFrontEnd whose lines a test checks (otherwise the formatter's
// lines are in its transcript).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/byte_order.h"

namespace quillmar::testing {

// ---- Blank disks -------------------------------------------------------------------------------

// Creates (or truncates and recreates) an all-zero sparse image of the given number of sectors.
::testing::AssertionResult MakeBlankImage(const std::string& path, uint64_t sectors);

// ---- Recognisable sector patterns ------------------------------------------------------------

// Each pattern sector starts with an 8-byte tag ("QSYSPART", "QRECORD!"), then the 64-bit key
// (little-endian), then bytes derived from tag and key: different keys give different sectors.
// The key of a sector written by the builders is its sector number on the disk where the
// builder wrote it, so after a copy to another position the expected key is the source sector.
enum class Pattern { kSystem, kRecording };
Sector PatternSector(Pattern pattern, uint64_t key);

// True when sectors first .. first+count-1 of the image hold the pattern with keys
// first_key, first_key+1, ...; otherwise a failure naming the first differing sector, with a
// hex dump of its differing bytes.
::testing::AssertionResult HasPattern(const std::string& path, uint64_t first, uint64_t count,
                                      Pattern pattern, uint64_t first_key);

// ---- Recorder disks
// ------------------------------------------------------------------------------

struct SectorRun {
  uint64_t first = 0;
  uint64_t count = 0;
};

// A recorder disk: partition block in sector 0, sector 1 zero (or a stale pair block), the
// system partition 1 from sector 2 (filled with Pattern::kSystem), partition 2 (MPEG) from
// p1_length + 2, and an optional Photo partition 3 at the end of the described layout.
struct ReplayTvDisk {
  uint64_t disk_sectors = 0;  // size of the image file
  bool rtv4000 = false;       // every block stored in RTV4000 order
  uint32_t p1_length = 4000;  // system partition: sectors 2 .. p1_length + 1
  // Sectors the partition block describes: partition 2 (and the Photo partition after it) ends
  // here. 0: the whole disk (a patched disk). Smaller than disk_sectors: an old, smaller layout
  // copied onto a bigger disk (not patched).
  uint64_t layout_sectors = 0;
  // Cluster size of the MPEG file system written by FormatPartition ("mpeg", no directories);
  // 0 leaves partition 2 unformatted (all zero).
  uint32_t mpeg_cluster_size = 262144;
  // Photo partition (entry 3, type 0x4D) of this many sectors at the end of the layout; 0: none
  // (entry 3 zero).
  uint32_t photo_sectors = 0;
  // Cluster size of its "storage" file system (directories "tmp" and "Photo"); 0: unformatted.
  uint32_t photo_cluster_size = 8192;
  // Runs of absolute sectors filled with Pattern::kRecording (key = sector), written last, so a
  // run over metadata blocks overwrites them.
  std::vector<SectorRun> recordings;
  // Sector 1 holds a valid first-drive volume sequence block, left over from a former pair.
  bool stale_pair_block = false;
};

// Where the partitions of a ReplayTvDisk lie (sectors), as written to its partition block.
struct ReplayTvGeometry {
  uint32_t p2_start = 0;
  uint32_t p2_length = 0;
  uint32_t p3_start = 0;  // 0 without a Photo partition
  uint32_t p3_length = 0;
  uint64_t mpeg_cluster_count = 0;   // p2_length / (mpeg_cluster_size / 512)
  uint64_t photo_cluster_count = 0;  // p3_length / (photo_cluster_size / 512)
};
ReplayTvGeometry Geometry(const ReplayTvDisk& disk);

::testing::AssertionResult MakeReplayTvDisk(const std::string& path, const ReplayTvDisk& disk);

// A two-drive system as the joining leaves it. Drive 1 (first.disk_sectors sectors) holds the
// partition block in joined sector numbers (layout_sectors 0 means first + second - 2), the
// system partition, the start of the MPEG partition with its file system, and sector 1 the
// first drive's volume sequence block. Drive 2 (second_sectors) holds an empty partition block,
// the second drive's volume sequence block, and the Photo partition (formatted when asked) at
// joined sector p3_start, which is sector p3_start - first + 2 on drive 2. Recordings are
// absolute sectors on drive 1. Blocks of both drives use drive 1's byte order.
::testing::AssertionResult MakeReplayTvPair(const std::string& path1, const std::string& path2,
                                            const ReplayTvDisk& first, uint64_t second_sectors);

// ---- PC disks
// ------------------------------------------------------------------------------------

enum class PcDisk {
  kNtfs,              // MBR, entry 1 type 0x07
  kLinux,             // MBR, entry 1 type 0x83
  kFat32SecondEntry,  // MBR, entry 1 empty, entry 2 type 0x0B
  kGpt,               // GPT with one Linux partition (protective MBR type 0xEE); needs sgdisk
};

// True when the external tool (sfdisk, sgdisk) can be run.
bool HaveTool(const std::string& name);

// Skips the current test when a tool is missing.
#define QUILLMAR_REQUIRE_TOOL(name)                  \
  do {                                               \
    if (!::quillmar::testing::HaveTool(name)) {      \
      GTEST_SKIP() << (name) << " is not installed"; \
    }                                                \
  } while (0)

// MBR layouts use sfdisk when it is there, direct bytes otherwise; kGpt needs sgdisk (guard with
// QUILLMAR_REQUIRE_TOOL("sgdisk")). The image is at least 8192 sectors.
::testing::AssertionResult MakePcDisk(const std::string& path, uint64_t sectors, PcDisk kind);

// ---- Reading, writing, comparing -------------------------------------------------------------

// count sectors from sector first; short or failed reads add a test failure and return what
// could be read (zero-filled).
std::vector<uint8_t> ReadSectors(const std::string& path, uint64_t first, uint64_t count);
std::vector<uint8_t> ReadBytes(const std::string& path, uint64_t offset, size_t count);
// Writes bytes at sector first (any length) / at a byte offset, without truncating the file.
::testing::AssertionResult WriteSectors(const std::string& path, uint64_t first,
                                        std::span<const uint8_t> bytes);
::testing::AssertionResult WriteBytes(const std::string& path, uint64_t offset,
                                      std::span<const uint8_t> bytes);

// A 1024-byte file-system block at a byte offset / one sector, converted to standard order when
// rtv4000.
FsBlock ReadFsBlock(const std::string& path, uint64_t offset, bool rtv4000);
Sector ReadSector(const std::string& path, uint64_t sector, bool rtv4000);

// Size in bytes of a file, or -1.
int64_t FileSize(const std::string& path);

// A hash of the image's contents and size that is fast on huge sparse files: only the data
// extents are read, and all-zero 4 KiB blocks count as holes, so two images with equal bytes
// hash equal however they were written.
uint64_t ImageHash(const std::string& path);

// Copies an image keeping it sparse (for "nothing else was written" comparisons).
::testing::AssertionResult CopyImage(const std::string& from, const std::string& to);

// Byte-identical images; otherwise a failure listing the first differing sectors (up to 4) with
// hex dumps of their differing bytes.
::testing::AssertionResult ImagesEqual(const std::string& expected, const std::string& actual);

// Byte-identical ranges; otherwise a failure with the lengths and a hex dump of each differing
// byte run (offset, expected, actual), at most 16 lines.
::testing::AssertionResult BytesEqual(std::span<const uint8_t> expected,
                                      std::span<const uint8_t> actual);

#define EXPECT_BYTES_EQ(expected, actual) \
  EXPECT_TRUE(::quillmar::testing::BytesEqual((expected), (actual)))
#define ASSERT_BYTES_EQ(expected, actual) \
  ASSERT_TRUE(::quillmar::testing::BytesEqual((expected), (actual)))

}  // namespace quillmar::testing
