// A read-only look at a drive or image file: its byte order, partition block, volume sequence
// block and the metadata blocks of its MPEG and Photo file systems, with every check a recorder
// relies on (CRC and XOR byte of each superblock and directory block, identical copies). The
// command line prints the rendering and fails when the drive does not verify.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "format/partition_block.h"

namespace quillmar {

// One superblock or directory block and its copy.
struct InspectedBlock {
  std::string name;      // "superblock", "root directory", "directory 'tmp'", ...
  uint64_t cluster = 0;  // the block's cluster; its copy is at cluster + 1
  uint64_t stored_cluster = 0;
  uint16_t kind = 0;
  uint32_t crc_length = 0;
  uint16_t crc = 0;
  uint16_t computed_crc = 0;
  uint8_t xor_byte = 0;
  uint8_t computed_xor = 0;
  bool readable = false;
  bool crc_ok = false;
  bool xor_ok = false;
  bool copy_identical = false;
};

struct InspectedFileSystem {
  bool present = false;       // the partition exists and was looked at
  std::string where;          // "partition 2", "partition 3 on drive 2 (/dev/sdc)"
  std::string device_path;    // the drive it lies on
  uint64_t start_sector = 0;  // on that drive
  uint64_t length_sectors = 0;
  bool system_block_ok = false;  // readable, with the magic
  std::string label;
  uint32_t cluster_size = 0;
  uint64_t cluster_count = 0;             // system block
  uint64_t superblock_cluster_count = 0;  // superblock
  uint64_t root_cluster = 0;
  std::vector<InspectedBlock> blocks;
};

struct InspectedVolumeSequence {
  uint32_t magic = 0;
  int position = 0;  // 0 none, 1 first drive of a pair, 2 second drive
  uint64_t drive_index = 0;
  uint32_t drive_count = 0;
  uint64_t space_offset = 0;
  uint64_t drive_offset = 0;
  uint64_t drive_bytes = 0;
};

struct InspectionReport {
  std::string device_path;
  bool readable = false;  // sectors 0 and 1 could be read
  uint64_t size_sectors = 0;
  bool rtv4000 = false;
  bool signature_ok = false;  // 55 AA at 510 of the standard-order image
  std::array<PartitionEntry, 4> entries{};
  bool is_replaytv = false;
  InspectedVolumeSequence volume_sequence;
  InspectedFileSystem mpeg;
  InspectedFileSystem photo;
  std::vector<std::string> problems;  // empty when verified
  bool verified = false;
};

// Reads the drive or image at path. The second drive of a two-drive system, when given, is where
// the Photo partition of the pair lies; without it that partition is reported, not checked.
InspectionReport InspectDrive(const std::string& path, const std::string& second_path = "");

// The report as readable text, one fact per line, ending with "Verified: yes" or "Verified: no".
std::string RenderInspection(const InspectionReport& report);

}  // namespace quillmar
