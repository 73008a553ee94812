#include "format/checksum.h"

#include <algorithm>

#include "base/byte_order.h"
#include "base/log.h"

namespace quillmar {

uint32_t Reflect(uint32_t value, int count) {
  uint32_t result = value;
  for (int i = 0; i < count; ++i) {
    uint32_t bit = 1u << (count - 1 - i);
    if (value & (1u << i)) {
      result |= bit;
    } else {
      result &= ~bit;
    }
  }
  return result;
}

uint32_t WidthMask(int width) {
  return (((1u << (width - 1)) - 1u) << 1) | 1u;
}

void CrcModel::Init() {
  reg = init;
}

void CrcModel::NextByte(uint8_t byte) {
  uint32_t top_bit = 1u << (width - 1);
  uint32_t value = refin ? Reflect(byte, 8) : byte;
  reg ^= value << (width - 8);
  for (int i = 0; i < 8; ++i) {
    reg = (reg & top_bit) ? (reg << 1) ^ poly : reg << 1;
    reg &= WidthMask(width);
  }
}

void CrcModel::NextBlock(std::span<const uint8_t> bytes) {
  for (uint8_t byte : bytes)
    NextByte(byte);
}

uint32_t CrcModel::Result() const {
  return (refout ? Reflect(reg, width) : reg) ^ xorout;
}

uint16_t Crc16(std::span<const uint8_t> bytes) {
  CrcModel model;  // width 16, poly 0x1021, init 0, no reflection, no final XOR
  model.Init();
  model.NextBlock(bytes);
  return static_cast<uint16_t>(model.Result());
}

uint8_t HeaderXor(std::span<const uint8_t> block) {
  uint8_t x = 0;
  for (size_t i = 0; i < kHeaderXor; ++i)
    x ^= block[i];
  return x;
}

void SealBlock(std::span<uint8_t> block, const char* indent) {
  // A covered length past the end of the block is never built here; clamp rather than overrun.
  size_t covered = std::min<size_t>(GetBe32(block, kHeaderCrcLength), block.size() - kHeaderSize);
  uint16_t crc = Crc16(block.subspan(kHeaderSize, covered));
  LogLine(Format("%sCRC is 0x%04x", indent, crc));
  PutBe16(block, kHeaderCrc, crc);
  uint8_t x = HeaderXor(block);
  LogLine(Format("%sXOR byte is 0x%02x", indent, x));
  block[kHeaderXor] = x;
}

}  // namespace quillmar
