// The columns of the window's drive list: Drive ID (model and picture), Index, Size, Status, and
// the drive's device path last ("/dev/sdb", or the image file named with --drive).
#pragma once

namespace quillmar {

inline constexpr int kIndexColumn = 1;
inline constexpr int kSizeColumn = 2;
inline constexpr int kStatusColumn = 3;
inline constexpr int kDeviceColumn = 4;

}  // namespace quillmar
