// The MPEG partition reset over arbitrary sector 0, system block, superblock and root directory
// blocks (each block comes from the input when the reset first reads it): no crash, no
// undefined behaviour, and nothing written but the root directory block and its copy, 1024
// bytes each, inside partition 2 and the drive.
#include "base/log.h"
#include "format/mpeg_reset.h"
#include "format/partition_block.h"
#include "tests/fuzz/fuzz_support.h"

using namespace quillmar;
using namespace quillmar::fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputStream input({data, size});
  uint64_t drive_bytes = uint64_t{input.U32()} * kBlockSize;
  MemoryDeviceIo io;
  MemoryDrive& drive = io.Add("drive0", drive_bytes, &input);
  InputFrontEnd front_end(&input);
  SetFrontEnd(&front_end);

  int result = ResetMpegPartition("drive0");

  Require(io.open_descriptors() == 0, "a descriptor stayed open");
  if (io.writes().empty()) {
    SetFrontEnd(nullptr);
    return 0;
  }
  Require(result == 0 || io.writes().size() == 2, "a reset that wrote must write both copies");
  Require(io.writes().size() <= 2, "more than the root directory and its copy written");
  Sector sector0{};
  drive.Read(0, sector0.data(), sector0.size());
  if (IsRtv4000Order(sector0))
    Rtv4000Byteswap(sector0);
  uint64_t p2_start = ReadPartitionEntry(sector0, 2).start;
  // The reset finds the root directory through the superblock alone and does not consult the
  // partition's recorded length; it must still stay behind the partition's start.
  SectorRange allowed[] = {{p2_start, drive_bytes / kBlockSize}};
  for (const WriteRecord& write : io.writes()) {
    Require(write.length == kFsBlockSize, "a write that is not one file-system block");
    Require(InsideRanges(write.offset, write.length, allowed), "a write outside partition 2");
  }
  SetFrontEnd(nullptr);
  return 0;
}
