#include "format/partition_block.h"

#include <algorithm>

#include "base/log.h"

namespace quillmar {
namespace {

constexpr size_t kFirstEntry = 446;
constexpr size_t kEntrySize = 16;
constexpr size_t kEntryType = 4;
constexpr size_t kEntryStart = 8;
constexpr size_t kEntryLength = 12;

}  // namespace

size_t PartitionEntryOffset(int n) {
  return kFirstEntry + kEntrySize * static_cast<size_t>(n - 1);
}

PartitionEntry ReadPartitionEntry(std::span<const uint8_t> sector0, int n) {
  size_t at = PartitionEntryOffset(n);
  return {sector0[at + kEntryType], GetLe32(sector0, at + kEntryStart),
          GetLe32(sector0, at + kEntryLength)};
}

void WritePartitionEntry(std::span<uint8_t> sector0, int n, const PartitionEntry& entry) {
  size_t at = PartitionEntryOffset(n);
  sector0[at + kEntryType] = entry.type;
  PutLe32(sector0, at + kEntryStart, entry.start);
  PutLe32(sector0, at + kEntryLength, entry.length);
}

void ClearPartitionEntry(std::span<uint8_t> sector0, int n) {
  size_t at = PartitionEntryOffset(n);
  std::fill_n(sector0.begin() + static_cast<ptrdiff_t>(at), kEntrySize, uint8_t{0});
}

Sector EmptyPartitionBlock() {
  Sector block{};
  block[510] = 0x55;
  block[511] = 0xAA;
  return block;
}

std::string RenderPartitionEntry(int n, const PartitionEntry& entry) {
  return Format("    Partition %d, type 0x%02x, start: %u, length: %u", n, entry.type, entry.start,
                entry.length);
}

bool IsPcPartitionType(uint8_t type) {
  switch (type) {
    case 0x01:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x07:
    case 0x0B:
    case 0x0C:
    case 0x0E:
    case 0x0F:
    case 0x82:
    case 0x83:
    case 0xEE:  // GPT protective entry: a GPT disk is a PC disk too
    case 0xEF:  // EFI system partition
      return true;
    default:
      return false;
  }
}

bool IsPcDiskLayout(std::span<const uint8_t> sector0) {
  for (int n = 1; n <= 4; ++n) {
    uint8_t type = ReadPartitionEntry(sector0, n).type;
    if (type != 0)
      return IsPcPartitionType(type);
  }
  return false;
}

bool IsRtv4000Disk(std::span<const uint8_t> raw_sector0) {
  if (!IsRtv4000Order(raw_sector0))
    return false;
  bool signed_in_standard_order = raw_sector0[510] == 0x55 && raw_sector0[511] == 0xAA;
  return !signed_in_standard_order || !IsPcDiskLayout(raw_sector0);
}

}  // namespace quillmar
