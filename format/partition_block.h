// Sector 0 of a recorder disk: four 16-byte partition entries at 446, 462, 478 and 494 and the
// signature 55 AA at 510. Every field is read and written byte-exactly in the standard-order
// image; start and length are little-endian and not 4-byte aligned. Bytes outside the fields an
// operation changes are kept as read.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "base/byte_order.h"

namespace quillmar {

inline constexpr uint8_t kRecorderPartitionType = 0x4D;  // 'M'

struct PartitionEntry {
  uint8_t type = 0;
  uint32_t start = 0;
  uint32_t length = 0;
};

// n is the entry number 1..4.
size_t PartitionEntryOffset(int n);
PartitionEntry ReadPartitionEntry(std::span<const uint8_t> sector0, int n);
// Sets type, start and length; bytes 0-3 and 5-7 of the entry are kept.
void WritePartitionEntry(std::span<uint8_t> sector0, int n, const PartitionEntry& entry);
// Zeroes all 16 bytes of the entry.
void ClearPartitionEntry(std::span<uint8_t> sector0, int n);

// 512 zero bytes with the signature 55 AA at 510: the empty partition block of a second drive.
Sector EmptyPartitionBlock();

// "    Partition n, type 0x%02x, start: %u, length: %u" (start and length unsigned)
std::string RenderPartitionEntry(int n, const PartitionEntry& entry);

// True when the type is one of the PC partition types that mark a machine's own disk
// (0x01 0x04 0x05 0x06 0x07 0x0B 0x0C 0x0E 0x0F 0x82 0x83, and the GPT types 0xEE 0xEF).
bool IsPcPartitionType(uint8_t type);

// True when the first entry in use (of 1..4, empty ones skipped) has a PC partition type.
bool IsPcDiskLayout(std::span<const uint8_t> sector0);

// The byte order of a disk from its raw sector 0: the order test (AA 55 at 508), except when the
// sector also holds 55 AA at 510, so that it is signed in both orders (the top bytes of a PC
// disk's entry 4 length can read AA 55). Then the order in which it reads as a PC's own disk wins,
// and the warning about a PC disk is never lost.
bool IsRtv4000Disk(std::span<const uint8_t> raw_sector0);

}  // namespace quillmar
