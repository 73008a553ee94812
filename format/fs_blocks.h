// The metadata blocks at the start of an MPEG or Photo partition, built in memory in standard
// order exactly as the formatter writes them. Cluster 0 holds the system block, 1 and 2 the
// superblock and its copy, 3 and 4 the root directory, 2i+5 and 2i+6 directory i.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_order.h"

namespace quillmar {

inline constexpr uint32_t kSystemBlockMagic = 0xC2993D87u;
inline constexpr uint16_t kSuperblockKind = 371;
inline constexpr uint16_t kDirectoryKind = 357;
inline constexpr uint8_t kBlockMarker = 0xD2;
inline constexpr uint64_t kRootDirectoryCluster = 3;
// The bytes each CRC covers: a superblock's fields (bytes 24..335), a directory block's body.
inline constexpr uint32_t kSuperCrcLength = 312;
inline constexpr uint32_t kDirectoryCrcLength = 1000;
inline constexpr uint64_t kRootTimeMs = 0xEAEBA1864Aull;
inline constexpr uint64_t kDirectoryTimeMs = 0xEAEBA1872Bull;

// System block offsets that the patch and reset read or change, and where its magic lies.
inline constexpr size_t kSystemLabel = 192;
inline constexpr size_t kSystemMagic = 272;
inline constexpr size_t kSystemClusterCount = 264;
inline constexpr size_t kSystemClusterSize = 276;
// Superblock offsets.
inline constexpr size_t kSuperClusterCount = 32;
inline constexpr size_t kSuperRootCluster = 40;
inline constexpr size_t kSuperClusterSize = 56;
inline constexpr size_t kSuperLabel = 72;
// Directory block offsets.
inline constexpr size_t kDirParent = 24;
inline constexpr size_t kDirTimeMs = 40;
inline constexpr size_t kDirName = 152;
inline constexpr size_t kDirSlots = 440;

// The most directories a root directory block can list.
inline constexpr size_t kMaxDirectories = 18;

// The cluster of directory i of the formatter's list (its copy is the next cluster).
uint64_t DirectoryCluster(size_t index);

FsBlock BuildSystemBlock(const std::string& label, uint32_t cluster_size, uint64_t cluster_count);
// Sealed (CRC and XOR byte in place); the sealing logs both values.
FsBlock BuildSuperblock(const std::string& label, uint32_t cluster_size, uint64_t cluster_count);
// The root directory listing directories 0..n-1 of the formatter's list (at most
// kMaxDirectories); sealed.
FsBlock BuildRootDirectoryBlock(size_t directory_count);
// Directory i of the formatter's list, in the root; sealed.
FsBlock BuildDirectoryBlock(size_t index, const std::string& name);

}  // namespace quillmar
