#include "disk/drive_table.h"

#include "disk/drive_identity.h"
#include "disk/drive_probe.h"

namespace quillmar {

std::array<DriveInfo, kMaxDrives> DriveTable{};
std::array<uint32_t, kMaxDrives> g_detectedSectors{};
std::array<uint32_t, kMaxDrives> g_forcedSectors{};
bool g_probePending = true;

void ResetDriveTable() {
  DriveTable.fill(DriveInfo{});
  g_detectedSectors.fill(0);
  g_forcedSectors.fill(0);
  g_probePending = true;
  ResetRawAccessNotice();
}

int ListedDriveSharingSectorsWith(const std::string& path) {
  for (int i = 0; i < kMaxDrives; ++i) {
    if (DriveAt(i).size_sectors != 0 &&
        DiskRelationOf(path, DriveAt(i).device_path) != DiskRelation::kSeparate) {
      return i;
    }
  }
  return -1;
}

}  // namespace quillmar
