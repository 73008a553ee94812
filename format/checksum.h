// The checks of superblocks and directory blocks: a CRC-16 (polynomial 0x1021, register 0 at the
// start, no reflection, no final XOR) over the block's body and an XOR byte over its header.
#pragma once

#include <cstdint>
#include <span>

namespace quillmar {

// A parametrised CRC engine in the Rocksoft model, bit by bit.
struct CrcModel {
  int32_t width = 16;
  uint32_t poly = 0x1021;
  uint32_t init = 0;
  bool refin = false;
  bool refout = false;
  uint32_t xorout = 0;
  uint32_t reg = 0;

  void Init();
  void NextByte(uint8_t byte);
  void NextBlock(std::span<const uint8_t> bytes);
  uint32_t Result() const;
};

uint32_t Reflect(uint32_t value, int count);
uint32_t WidthMask(int width);

uint16_t Crc16(std::span<const uint8_t> bytes);

// Header of a superblock or directory block (standard order, big-endian fields).
inline constexpr size_t kHeaderCluster = 0;
inline constexpr size_t kHeaderCrcLength = 8;
inline constexpr size_t kHeaderCrc = 12;
inline constexpr size_t kHeaderKind = 16;
inline constexpr size_t kHeaderMarker = 18;
inline constexpr size_t kHeaderXor = 19;
inline constexpr size_t kHeaderSize = 24;

// XOR of bytes 0..18.
uint8_t HeaderXor(std::span<const uint8_t> block);

// Completes the header of a block held in standard order: the CRC over crc_length bytes from
// byte 24, stored big-endian at 12, then the XOR byte over bytes 0..18 stored at 19. Logs both
// values with the given indentation ("     " for the formatter, "  " for the reset and patch).
void SealBlock(std::span<uint8_t> block, const char* indent = "     ");

}  // namespace quillmar
