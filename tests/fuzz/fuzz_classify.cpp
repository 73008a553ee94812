// Arbitrary sectors 0 and 1 and an arbitrary size through the classification: no crash, no
// undefined behaviour, no write at all, every descriptor closed, every flag in its range.
#include "drives/classify.h"
#include "tests/fuzz/fuzz_support.h"

using namespace quillmar;
using namespace quillmar::fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputStream input({data, size});
  uint32_t sectors = input.U32();
  uint64_t file_bytes = input.Byte() & 1 ? uint64_t{sectors} * kBlockSize : input.U32() % 2048;
  FakeDeviceIo io;
  FakeDevice& drive = AddInputDrive(io, "drive0", file_bytes, input);
  ScriptedFrontEnd front_end(false);
  front_end.AnswerWith([&input] { return (input.Byte() & 1) != 0; });

  ResetDriveTable();
  DriveTable[0].device_path = "drive0";
  DriveTable[0].model = "Fuzz";
  g_detectedSectors[0] = sectors;
  g_probePending = false;
  ClassifyDrives();
  ClassifyDrives();

  const DriveInfo& d = DriveTable[0];
  Require(drive.writes().empty(), "the classification wrote");
  Require(io.open_descriptors() == 0, "a descriptor stayed open");
  if (!d.unreadable) {
    Require(d.size_sectors == sectors, "size_sectors");
    Require(d.size_gb == sectors / kSectorsPerGb, "size_gb");
    for (int flag : {d.is_replaytv, d.rtv4000, d.patched, d.system_disk})
      Require(flag == 0 || flag == 1, "a flag that is neither 0 nor 1");
    Require(d.dual_position >= 0 && d.dual_position <= 2, "dual_position");
  }
  ResetDriveTable();
  return 0;
}
