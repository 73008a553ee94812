// Where the patch puts partitions 2 and 3, which cluster sizes it gives a reformatted file
// system, and which layouts it refuses before it writes anything.
#pragma once

#include <cstdint>
#include <string>

namespace quillmar {

// Partition 2 must at least hold the 5 MiB of its head that the system-area copies carry: the
// metadata blocks of its file system lie there, and a reformat with the smallest automatic
// cluster size (262,144 bytes) still gets 20 clusters.
inline constexpr int64_t kMinMpegSectors = 10240;

// The Photo file system's nine metadata clusters (system block, superblock, root and two
// directories, each but the first with its copy).
inline constexpr int64_t kPhotoMetadataClusters = 9;

// The old cluster sizes the in-place patch accepts: those of every known recorder file system.
inline constexpr int32_t kMinOldClusterSize = 512;
inline constexpr int32_t kMaxOldClusterSize = 0x800000;

// Sector positions of the patched partitions in the joined sector space (single drive: the
// drive's own sectors). Signed 64-bit, so that a drive too small for them shows as a negative or
// short partition 2 instead of a wrapped number.
struct PatchLayout {
  int64_t p2start = 0;
  int64_t p2len = 0;
  int64_t photo = 0;    // 0: no Photo partition
  int64_t p3start = 0;  // 0: no Photo partition
};

// Partition 2 from directly after partition 1 to the end of the joined space, less the Photo
// partition at its very end.
PatchLayout PlanPatchLayout(uint32_t first_sectors, uint32_t second_sectors,
                            uint32_t second_reserve, uint32_t p1len, uint32_t photo);

// "" when the layout can be written; otherwise the "*** ERROR: ..." text that refuses it.
std::string CheckPatchLayout(const PatchLayout& layout, uint32_t first_sectors,
                             uint32_t second_sectors, uint32_t second_reserve, bool formats_photo);

// The metadata blocks of the MPEG file system are written through drive 1 alone: "" when
// metadata_bytes from the start of partition 2 lie inside both partition 2 and drive 1;
// otherwise the "*** ERROR: ..." text that refuses the patch.
std::string CheckMpegMetadataFits(const PatchLayout& layout, uint32_t first_sectors,
                                  uint64_t metadata_bytes, uint32_t cluster_size);

// The cluster size recorded in partition 2's system block, read quietly; 0 when it cannot be
// read.
int32_t ReadOldClusterSize(int fd, int64_t p2start, bool rtv4000);

// The blocks the patch writes into the MPEG file system, checked before anything is written:
// the system block and both superblock copies of the old file system (in-place patch; an old
// cluster size outside what the patch accepts is left to its own refusal), or the five blocks
// of a reformat with the cluster size it would choose.
std::string CheckInPlacePatchFits(const PatchLayout& layout, uint32_t first_sectors,
                                  int32_t old_cluster_size);
std::string CheckReformatFits(const PatchLayout& layout, uint32_t first_sectors);

// The cluster size of a reformatted MPEG partition of p2len sectors: the override (low 9 bits
// cleared) when the formatter accepts it and it is not greater than p2len, else the ladder.
// A refusal of the checks above, followed by the drive or drives it is about.
std::string RefusalFor(const std::string& refusal, const std::string& first_device,
                       const std::string& second_device);

uint32_t MpegReformatClusterSize(int64_t p2len, int32_t override_bytes);

// The cluster size of a formatted Photo partition of photo sectors.
uint32_t PhotoClusterSize(int64_t photo);

}  // namespace quillmar
