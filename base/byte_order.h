// The two byte orders of recorder disks and the accessors through which every on-disk field is
// read and written. A block in memory is always held as its standard-order image: the partition
// block's fields are little-endian, every other multi-byte field is big-endian. A disk in RTV4000
// order stores each block with the bytes of every 4-byte group reversed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace quillmar {

inline constexpr size_t kBlockSize = 512;     // one sector, the unit of every transfer
inline constexpr size_t kFsBlockSize = 1024;  // one file-system metadata block

using Sector = std::array<uint8_t, kBlockSize>;
using FsBlock = std::array<uint8_t, kFsBlockSize>;

// Converts a block in place between standard and RTV4000 order by reversing each 4-byte group,
// counted from the first byte. Its own inverse. The length is a multiple of 4.
void Rtv4000Byteswap(std::span<uint8_t> block);

// The order test on a raw sector 0 as read from the disk: RTV4000 when byte 508 is 0xAA and
// byte 509 is 0x55 (the signature 55 AA of bytes 510-511, stored reversed).
bool IsRtv4000Order(std::span<const uint8_t> raw_sector0);

// Explicit-endian field accessors at byte offsets of a block.
uint16_t GetBe16(std::span<const uint8_t> b, size_t off);
uint32_t GetBe32(std::span<const uint8_t> b, size_t off);
uint64_t GetBe64(std::span<const uint8_t> b, size_t off);
void PutBe16(std::span<uint8_t> b, size_t off, uint16_t v);
void PutBe32(std::span<uint8_t> b, size_t off, uint32_t v);
void PutBe64(std::span<uint8_t> b, size_t off, uint64_t v);
uint32_t GetLe32(std::span<const uint8_t> b, size_t off);
void PutLe32(std::span<uint8_t> b, size_t off, uint32_t v);
uint16_t GetLe16(std::span<const uint8_t> b, size_t off);

}  // namespace quillmar
