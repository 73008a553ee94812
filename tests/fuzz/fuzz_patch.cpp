// The patch over arbitrary drives: sector 0, sector 1 and the MPEG file system's blocks come from
// the input when first read, and so do the sizes, the Photo request, the cluster-size override
// and every answer. No crash, no undefined behaviour, every descriptor closed, and every write
// inside what the patch names: sectors 0 and 1 of drive 1 (sector 1 only for a single drive) and
// the new partitions 2 and 3 as the rewritten partition block records them, on either drive.
#include "base/settings.h"
#include "ops/operations.h"
#include "tests/fuzz/fuzz_support.h"

using namespace quillmar;
using namespace quillmar::fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputStream input({data, size});
  uint64_t first = input.U32();
  bool two_drives = input.Byte() & 1;
  uint64_t second = two_drives ? input.U32() : 0;
  uint32_t photo_request = input.U32();
  g_mpegClusterOverride = static_cast<int32_t>(input.U32());
  FakeDeviceIo io;
  FakeDevice& drive1 = AddInputDrive(io, "drive1", first * kBlockSize, input);
  FakeDevice& drive2 = AddInputDrive(io, "drive2", second * kBlockSize, input);
  ScriptedFrontEnd front_end(false);
  front_end.AnswerWith([&input] { return (input.Byte() & 1) != 0; });

  PatchDisk("drive1", two_drives ? "drive2" : "", static_cast<uint32_t>(first),
            static_cast<uint32_t>(second), photo_request, two_drives ? 2 : 0);

  Require(io.open_descriptors() == 0, "a descriptor stayed open");
  if (!drive1.writes().empty() || !drive2.writes().empty()) {
    Sector sector0 = StandardSector0(drive1, IsRtv4000Order);
    std::vector<SectorRange> on_first = PartitionRanges(sector0, first, false);
    std::vector<SectorRange> patch_own = on_first;
    patch_own.push_back({0, second == 0 ? 2u : 1u});
    // The reset locates the root directory through the superblock alone.
    SectorRange reset_area[] = {{ReadPartitionEntry(sector0, 2).start, first}};
    for (const WriteCall& write : drive2.writes()) {
      Require(Inside(write, PartitionRanges(sector0, first, true)),
              "a write on drive 2 outside partitions 2 and 3");
    }
    for (const WriteCall& write : drive1.writes()) {
      if (write.open_serial == 0) {
        Require(Inside(write, patch_own),
                "a write of the patch outside sectors 0 and 1 and partitions 2 and 3");
      } else if (write.mode == OpenMode::kReadWrite) {
        Require(Inside(write, reset_area), "a write of the reset before partition 2");
      } else {
        Require(Inside(write, on_first), "a write of the formatter outside partitions 2 and 3");
      }
    }
  }
  ResetSettings();
  return 0;
}
