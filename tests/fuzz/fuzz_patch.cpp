// The patch over arbitrary drives: sector 0, sector 1 and the MPEG file system's blocks come from
// the input when first read, and so do the sizes, the Photo request, the cluster-size override
// and every answer. No crash, no undefined behaviour, every descriptor closed, and every write
// inside what the patch names: sectors 0 and 1 of drive 1 (sector 1 only for a single drive) and
// the new partitions 2 and 3 as the rewritten partition block records them, on whichever drive
// they lie.
#include <vector>

#include "base/log.h"
#include "base/settings.h"
#include "format/partition_block.h"
#include "ops/operations.h"
#include "tests/fuzz/fuzz_support.h"

using namespace quillmar;
using namespace quillmar::fuzzing;

namespace {

struct Drives {
  uint64_t first = 0;   // sectors
  uint64_t second = 0;  // 0: a single drive
};

// The ranges of drive `path` that partitions 2 and 3 of the joined space cover.
std::vector<SectorRange> PartitionRanges(const Sector& sector0, const Drives& drives,
                                         bool on_second) {
  std::vector<SectorRange> ranges;
  for (int n : {2, 3}) {
    PartitionEntry entry = ReadPartitionEntry(sector0, n);
    if (entry.length == 0)
      continue;
    uint64_t first = entry.start;
    uint64_t end = first + entry.length;
    if (!on_second) {
      ranges.push_back({first, std::min(end, drives.first)});
    } else if (end > drives.first) {
      // Joined sector L >= first lies on drive 2 at L - first + 2.
      uint64_t from = std::max(first, drives.first);
      ranges.push_back({from - drives.first + 2, end - drives.first + 2});
    }
  }
  return ranges;
}

void CheckWrites(const MemoryDeviceIo& io, MemoryDrive& drive1, const Drives& drives) {
  if (io.writes().empty())
    return;
  Sector sector0{};
  drive1.Read(0, sector0.data(), sector0.size());
  if (IsRtv4000Order(sector0))
    Rtv4000Byteswap(sector0);
  std::vector<SectorRange> on_first = PartitionRanges(sector0, drives, false);
  std::vector<SectorRange> on_second = PartitionRanges(sector0, drives, true);
  std::vector<SectorRange> patch_own = on_first;
  patch_own.push_back({0, drives.second == 0 ? 2u : 1u});
  uint64_t p2_start = ReadPartitionEntry(sector0, 2).start;
  SectorRange reset_area[] = {{p2_start, drives.first}};
  for (const WriteRecord& write : io.writes()) {
    if (write.path == "drive2") {
      Require(InsideRanges(write.offset, write.length, on_second),
              "a write on drive 2 outside partitions 2 and 3");
    } else if (write.open_serial == 0) {
      Require(InsideRanges(write.offset, write.length, patch_own),
              "a write of the patch outside sectors 0, 1 and partitions 2 and 3");
    } else if (write.mode == OpenMode::kReadWrite) {
      // The reset locates the root directory through the superblock alone.
      Require(InsideRanges(write.offset, write.length, reset_area),
              "a write of the reset before partition 2");
    } else {
      Require(InsideRanges(write.offset, write.length, on_first),
              "a write of the formatter outside partitions 2 and 3");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputStream input({data, size});
  Drives drives;
  drives.first = input.U32();
  bool two_drives = input.Byte() & 1;
  if (two_drives)
    drives.second = input.U32();
  uint32_t photo_request = input.U32();
  g_mpegClusterOverride = static_cast<int32_t>(input.U32());

  MemoryDeviceIo io;
  MemoryDrive& drive1 = io.Add("drive1", drives.first * kBlockSize, &input);
  io.Add("drive2", drives.second * kBlockSize, &input);
  InputFrontEnd front_end(&input);
  SetFrontEnd(&front_end);

  PatchDisk("drive1", two_drives ? "drive2" : "", static_cast<uint32_t>(drives.first),
            static_cast<uint32_t>(drives.second), photo_request, two_drives ? 2 : 0);

  Require(io.open_descriptors() == 0, "a descriptor stayed open");
  CheckWrites(io, drive1, drives);
  SetFrontEnd(nullptr);
  ResetSettings();
  return 0;
}
