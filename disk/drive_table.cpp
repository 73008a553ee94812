#include "disk/drive_table.h"

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

}  // namespace quillmar
