// Sector 1 of a recorder disk: whether the disk is one of the two drives of a two-drive system,
// which one, and where its sectors lie in the space the two drives form together. Big-endian
// fields in the standard-order image; no checksum.
#pragma once

#include <cstdint>
#include <span>

#include "base/byte_order.h"

namespace quillmar {

inline constexpr uint32_t kVolumeSequenceMagic = 0xD69EF5A0u;

// The two blocks of a pair with sizes s1 and s2 sectors (after the 137 GB limit), standard order.
Sector BuildVolumeSequenceBlock(int drive_index, uint32_t s1_sectors, uint32_t s2_sectors);

// 0: not part of a pair; 1: first drive; 2: second drive. The block in standard order.
int VolumeSequencePosition(std::span<const uint8_t> sector1);

// Where the drive's part begins in the joined space (drive 2: drive 1's bytes) and its length, in
// bytes. The block in standard order.
uint64_t VolumeSequenceSpaceOffset(std::span<const uint8_t> sector1);
uint64_t VolumeSequenceDriveBytes(std::span<const uint8_t> sector1);

// Clears the magic (bytes 0..3); the same bytes in both orders.
void InvalidateVolumeSequence(std::span<uint8_t> sector1);

}  // namespace quillmar
