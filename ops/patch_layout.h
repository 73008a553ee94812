// Where the patch puts partitions 2 and 3, which cluster sizes it gives a reformatted file
// system, and which layouts it refuses before it writes anything.
#pragma once

#include <cstdint>
#include <string>

namespace quillmar {

// Partition 2 must at least hold the 5 MiB of its head that the system-area copies carry: with
// clusters up to 1 MiB the metadata blocks of its file system lie there (with 2 MiB clusters the
// root directory, cluster 3, lies past them), and a reformat with the smallest automatic cluster
// size (262,144 bytes) still gets 20 clusters.
inline constexpr int64_t kMinMpegSectors = 10240;

// The Photo file system's nine metadata clusters (system block, superblock, root and two
// directories, each but the first with its copy).
inline constexpr int64_t kPhotoMetadataClusters = 9;

// Sector positions of the patched partitions in the joined sector space (single drive: the
// drive's own sectors). Signed 64-bit, so that a drive too small for them shows as a negative or
// short partition 2 instead of a wrapped number.
struct PatchLayout {
  int64_t p2start = 0;
  int64_t p2len = 0;
  int64_t photo = 0;         // 0: no Photo partition, or an entry of length 0
  int64_t p3start = 0;       // 0: no Photo partition entry
  bool photo_entry = false;  // entry 3 is kept (moved to the end)
};

// Partition 2 from directly after partition 1 to the end of the joined space, less the Photo
// partition at its very end. A Photo partition of photo > 0 sectors keeps its entry; so does one
// of length 0 when keeps_photo_entry.
PatchLayout PlanPatchLayout(uint32_t first_sectors, uint32_t second_sectors,
                            uint32_t second_reserve, uint32_t p1len, uint32_t photo,
                            bool keeps_photo_entry = false);

// "" when the layout can be written; otherwise the "*** ERROR: ..." text that refuses it.
std::string CheckPatchLayout(const PatchLayout& layout, uint32_t first_sectors,
                             uint32_t second_sectors, uint32_t second_reserve, bool formats_photo);

// The cluster size recorded in partition 2's system block, read quietly; 0 when it cannot be
// read.
uint32_t ReadOldClusterSize(int fd, int64_t p2start, bool rtv4000);

// A refusal of the checks above, followed by the drive or drives it is about.
std::string RefusalFor(const std::string& refusal, const std::string& first_device,
                       const std::string& second_device);

// The cluster size of a reformatted MPEG partition of p2len sectors, and, when the command line
// gave one, the line that says whether its value is used and why.
struct ClusterChoice {
  uint32_t bytes = 0;
  std::string why;  // "" without an override
};
// The override (low 9 bits cleared) when it is a real cluster size and not greater than p2len,
// else the ladder.
ClusterChoice ChooseMpegClusterSize(int64_t p2len, int32_t override_bytes);
uint32_t MpegReformatClusterSize(int64_t p2len, int32_t override_bytes);

// The cluster size of a formatted Photo partition of photo sectors.
uint32_t PhotoClusterSize(int64_t photo);

}  // namespace quillmar
