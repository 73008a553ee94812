// The MPEG partition reset over arbitrary sector 0, system block, superblock and root directory
// blocks (each comes from the input when the reset first reads it): no crash, no undefined
// behaviour, and nothing written but the root directory block and its copy, 1024 bytes each,
// behind partition 2's start (the reset finds them through the superblock alone) and inside the
// drive.
#include "format/mpeg_reset.h"
#include "tests/fuzz/fuzz_support.h"

using namespace quillmar;
using namespace quillmar::fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputStream input({data, size});
  uint64_t sectors = input.U32();
  FakeDeviceIo io;
  FakeDevice& drive = AddInputDrive(io, "drive0", sectors * kBlockSize, input);
  ScriptedFrontEnd front_end(false);
  front_end.AnswerWith([&input] { return (input.Byte() & 1) != 0; });

  int result = ResetMpegPartition("drive0");

  Require(io.open_descriptors() == 0, "a descriptor stayed open");
  const std::vector<WriteCall>& writes = drive.writes();
  Require(writes.empty() || result == 0 || writes.size() == 2,
          "a reset that wrote must write both copies");
  Require(writes.size() <= 2, "more than the root directory and its copy written");
  if (writes.empty())
    return 0;
  Sector sector0 = StandardSector0(drive, IsRtv4000Order);
  SectorRange allowed[] = {{ReadPartitionEntry(sector0, 2).start, sectors}};
  for (const WriteCall& write : writes) {
    Require(write.length == kFsBlockSize, "a write that is not one file-system block");
    Require(Inside(write, allowed), "a write outside partition 2");
  }
  return 0;
}
