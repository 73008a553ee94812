#include "format/volume_sequence.h"

#include <algorithm>

namespace quillmar {
namespace {

constexpr size_t kMagic = 0;
constexpr size_t kWord4 = 4;
constexpr size_t kDriveIndex = 8;
constexpr size_t kDriveCount = 16;
constexpr size_t kSpaceOffset = 24;
constexpr size_t kDriveOffset = 32;
constexpr size_t kDriveBytes = 40;
constexpr size_t kWord48 = 48;
constexpr size_t kWord52 = 52;

constexpr uint32_t kPairDriveCount = 2;
// The second drive's part begins after its own sectors 0 and 1.
constexpr uint64_t kSecondDriveOffset = 1024;

}  // namespace

Sector BuildVolumeSequenceBlock(int drive_index, uint32_t s1_sectors, uint32_t s2_sectors) {
  Sector block{};
  bool second = drive_index == 1;
  uint64_t s1_bytes = static_cast<uint64_t>(s1_sectors) * kBlockSize;
  uint64_t s2_bytes = static_cast<uint64_t>(s2_sectors) * kBlockSize;
  PutBe32(block, kMagic, kVolumeSequenceMagic);
  PutBe32(block, kWord4, 1);
  PutBe64(block, kDriveIndex, second ? 1 : 0);
  PutBe32(block, kDriveCount, kPairDriveCount);
  PutBe64(block, kSpaceOffset, second ? s1_bytes : 0);
  PutBe64(block, kDriveOffset, second ? kSecondDriveOffset : 0);
  PutBe64(block, kDriveBytes, second ? s2_bytes : s1_bytes);
  PutBe32(block, kWord48, 0x04000000u);
  PutBe32(block, kWord52, 0x08024E83u);
  return block;
}

int VolumeSequencePosition(std::span<const uint8_t> sector1) {
  if (GetBe32(sector1, kMagic) != kVolumeSequenceMagic)
    return 0;
  if (GetBe32(sector1, kDriveCount) != kPairDriveCount)
    return 0;
  uint64_t index = GetBe64(sector1, kDriveIndex);
  if (index == 0)
    return 1;
  if (index == 1)
    return 2;
  return 0;
}

uint64_t VolumeSequenceSpaceOffset(std::span<const uint8_t> sector1) {
  return GetBe64(sector1, kSpaceOffset);
}

uint64_t VolumeSequenceDriveBytes(std::span<const uint8_t> sector1) {
  return GetBe64(sector1, kDriveBytes);
}

void InvalidateVolumeSequence(std::span<uint8_t> sector1) {
  std::fill_n(sector1.begin(), 4, uint8_t{0});
}

}  // namespace quillmar
