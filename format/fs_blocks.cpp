#include "format/fs_blocks.h"

#include <algorithm>

#include "format/checksum.h"

namespace quillmar {
namespace {

constexpr uint64_t kAllOnes = ~uint64_t{0};

constexpr uint64_t kSuperblockCluster = 1;

// Constant fields whose meaning the tool does not use; written with the recorder's values.
constexpr size_t kSystemWord256 = 256;
constexpr size_t kSystemWord280 = 280;
constexpr size_t kSystemWord284 = 284;
constexpr size_t kSuperWord48 = 48;
constexpr size_t kSuperWord60 = 60;
constexpr size_t kSuperWord64 = 64;
constexpr size_t kSuperByte330 = 330;
constexpr size_t kDirWord32 = 32;
constexpr size_t kDirWord80 = 80;
constexpr size_t kDirWord84 = 84;

constexpr size_t kLabelWidth = 8;
constexpr size_t kNameWidth = 256;
// From byte 448 the slots are 18 entries of 32 bytes; entry i of the root names directory i.
constexpr size_t kRootEntries = 448;
constexpr size_t kRootEntrySize = 32;
constexpr size_t kMaxRootEntries = kMaxDirectories;

// Copies at most width characters of text into the field; the rest of the field stays zero and
// a text that fills the field has no terminator.
void PutText(FsBlock& block, size_t offset, const std::string& text, size_t width) {
  size_t n = std::min(width, text.size());
  std::copy_n(text.begin(), n, block.begin() + static_cast<ptrdiff_t>(offset));
}

void PutHeader(FsBlock& block, uint64_t cluster, uint32_t crc_length, uint16_t kind) {
  PutBe64(block, kHeaderCluster, cluster);
  PutBe32(block, kHeaderCrcLength, crc_length);
  PutBe16(block, kHeaderKind, kind);
  block[kHeaderMarker] = kBlockMarker;
}

// The fields every directory block shares: header, parent, the constant words and empty slots.
FsBlock DirectoryBase(uint64_t cluster, uint64_t parent, uint64_t time_ms) {
  FsBlock block{};
  PutHeader(block, cluster, kDirectoryCrcLength, kDirectoryKind);
  PutBe64(block, kDirParent, parent);
  PutBe64(block, kDirWord32, kAllOnes);
  PutBe64(block, kDirTimeMs, time_ms);
  PutBe32(block, kDirWord80, 68);
  PutBe32(block, kDirWord84, 1);
  std::fill(block.begin() + kDirSlots, block.end(), uint8_t{0xFF});
  return block;
}

}  // namespace

uint64_t DirectoryCluster(size_t index) {
  return 2 * static_cast<uint64_t>(index) + 5;
}

FsBlock BuildSystemBlock(const std::string& label, uint32_t cluster_size, uint64_t cluster_count) {
  FsBlock block{};
  PutText(block, kSystemLabel, label, kLabelWidth);
  PutBe64(block, kSystemWord256, 1);
  PutBe64(block, kSystemClusterCount, cluster_count);
  PutBe32(block, kSystemMagic, kSystemBlockMagic);
  PutBe32(block, kSystemClusterSize, cluster_size);
  PutBe32(block, kSystemWord280, 2);
  PutBe32(block, kSystemWord284, 1024);
  return block;
}

FsBlock BuildSuperblock(const std::string& label, uint32_t cluster_size, uint64_t cluster_count) {
  FsBlock block{};
  PutHeader(block, kSuperblockCluster, kSuperCrcLength, kSuperblockKind);
  PutBe64(block, kSuperClusterCount, cluster_count);
  PutBe64(block, kSuperRootCluster, kRootDirectoryCluster);
  PutBe64(block, kSuperWord48, kAllOnes);
  PutBe32(block, kSuperClusterSize, cluster_size);
  PutBe32(block, kSuperWord60, 1);
  PutBe64(block, kSuperWord64, 2);
  PutText(block, kSuperLabel, label, kLabelWidth);
  block[kSuperByte330] = 4;
  SealBlock(block);
  return block;
}

FsBlock BuildRootDirectoryBlock(size_t directory_count) {
  FsBlock block = DirectoryBase(kRootDirectoryCluster, kAllOnes, kRootTimeMs);
  size_t listed = std::min(directory_count, kMaxRootEntries);
  for (size_t i = 0; i < listed; ++i) {
    PutBe64(block, kRootEntries + kRootEntrySize * i, DirectoryCluster(i));
  }
  SealBlock(block);
  return block;
}

FsBlock BuildDirectoryBlock(size_t index, const std::string& name) {
  uint64_t time_ms = index >= 1 ? kDirectoryTimeMs : 0;
  FsBlock block = DirectoryBase(DirectoryCluster(index), kRootDirectoryCluster, time_ms);
  PutText(block, kDirName, name, kNameWidth);
  SealBlock(block);
  return block;
}

}  // namespace quillmar
