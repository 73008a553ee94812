// Arbitrary sectors 0 and 1 and an arbitrary size through the classification: no crash, no
// undefined behaviour, no write at all, every descriptor closed, every flag in its range.
#include "base/log.h"
#include "drives/classify.h"
#include "tests/fuzz/fuzz_support.h"

using namespace quillmar;
using namespace quillmar::fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputStream input({data, size});
  uint32_t sectors = input.U32();
  uint64_t file_bytes = input.Byte() & 1 ? uint64_t{sectors} * kBlockSize : input.U32() % 2048;
  MemoryDeviceIo io;
  io.Add("drive0", file_bytes, &input);
  InputFrontEnd front_end(&input);
  SetFrontEnd(&front_end);

  ResetDriveTable();
  DriveTable[0].device_path = "drive0";
  DriveTable[0].model = "Fuzz";
  g_detectedSectors[0] = sectors;
  g_probePending = false;
  ClassifyDrives();
  ClassifyDrives();

  const DriveInfo& d = DriveTable[0];
  Require(io.writes().empty(), "the classification wrote");
  Require(io.open_descriptors() == 0, "a descriptor stayed open");
  if (!d.unreadable) {
    Require(d.size_sectors == sectors, "size_sectors");
    Require(d.size_gb == sectors / kSectorsPerGb, "size_gb");
    Require(d.is_replaytv == 0 || d.is_replaytv == 1, "is_replaytv");
    Require(d.rtv4000 == 0 || d.rtv4000 == 1, "rtv4000");
    Require(d.patched == 0 || d.patched == 1, "patched");
    Require(d.system_disk == 0 || d.system_disk == 1, "system_disk");
    Require(d.dual_position >= 0 && d.dual_position <= 2, "dual_position");
  }
  SetFrontEnd(nullptr);
  ResetDriveTable();
  return 0;
}
