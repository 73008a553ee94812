// The drive list as text: one row per drive index up to the last present drive, with the
// window's status texts.
#pragma once

#include <array>
#include <string>

#include "disk/drive_table.h"

namespace quillmar::cli {

// The window's status text of the drive's row ("ReplayTV Disk", "RTV4000 Disk 2 of 2", ...,
// with ", NEEDS TO BE PATCHED" where it applies); "Empty" for an absent drive.
std::string DriveStatusText(const DriveInfo& drive);

// A table with the columns Index, Device, Model, Size ("%d GB") and Status, one line per row.
std::string RenderDriveList(const std::array<DriveInfo, kMaxDrives>& drives);

// The same rows as JSON, as lsblk --json gives its table: {"drives": [{"index": 0, "device":
// ..., "model": ..., "size_sectors": ..., "size_gb": ..., "status": ..., and each flag of the
// classification}, ...]}.
std::string RenderDriveListJson(const std::array<DriveInfo, kMaxDrives>& drives);

}  // namespace quillmar::cli
