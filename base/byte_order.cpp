#include "base/byte_order.h"

#include <algorithm>

namespace quillmar {

void Rtv4000Byteswap(std::span<uint8_t> block) {
  for (size_t k = 0; k + 4 <= block.size(); k += 4) {
    std::swap(block[k], block[k + 3]);
    std::swap(block[k + 1], block[k + 2]);
  }
}

bool IsRtv4000Order(std::span<const uint8_t> raw_sector0) {
  return raw_sector0.size() >= 510 && GetLe16(raw_sector0, 508) == 0x55AA;
}

uint16_t GetBe16(std::span<const uint8_t> b, size_t off) {
  return static_cast<uint16_t>((b[off] << 8) | b[off + 1]);
}
uint32_t GetBe32(std::span<const uint8_t> b, size_t off) {
  return (static_cast<uint32_t>(b[off]) << 24) | (static_cast<uint32_t>(b[off + 1]) << 16) |
         (static_cast<uint32_t>(b[off + 2]) << 8) | b[off + 3];
}
uint64_t GetBe64(std::span<const uint8_t> b, size_t off) {
  return (static_cast<uint64_t>(GetBe32(b, off)) << 32) | GetBe32(b, off + 4);
}
void PutBe16(std::span<uint8_t> b, size_t off, uint16_t v) {
  b[off] = static_cast<uint8_t>(v >> 8);
  b[off + 1] = static_cast<uint8_t>(v);
}
void PutBe32(std::span<uint8_t> b, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[off + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
void PutBe64(std::span<uint8_t> b, size_t off, uint64_t v) {
  PutBe32(b, off, static_cast<uint32_t>(v >> 32));
  PutBe32(b, off + 4, static_cast<uint32_t>(v));
}
uint32_t GetLe32(std::span<const uint8_t> b, size_t off) {
  return b[off] | (static_cast<uint32_t>(b[off + 1]) << 8) |
         (static_cast<uint32_t>(b[off + 2]) << 16) | (static_cast<uint32_t>(b[off + 3]) << 24);
}
void PutLe32(std::span<uint8_t> b, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t GetLe16(std::span<const uint8_t> b, size_t off) {
  return static_cast<uint16_t>(b[off] | (b[off + 1] << 8));
}

}  // namespace quillmar
