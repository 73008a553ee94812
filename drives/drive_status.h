// How the window describes a drive of the DriveTable: the status text and picture of its row in
// the drive list, and the text of the source / target label after "Set".
#pragma once

#include <string>

#include "disk/drive_table.h"

namespace quillmar {

// Pictures of the drive list, in the order of its image list.
enum DriveImage {
  kImageNotReplayTv = 0,  // not a ReplayTV disk, or no drive
  kImagePcDisk = 1,       // possibly a PC disk
  kImageReplayTv = 2,
  kImageDisk1Of2 = 3,
  kImageDisk2Of2 = 4,
};
inline constexpr int kDriveImageCount = 5;

inline constexpr char kSelectDrivePrompt[] = "Select a drive from the list and click 'Set'";

struct DriveRowStatus {
  std::string text;
  int image = kImageNotReplayTv;
};

// Status column and picture of a present drive.
DriveRowStatus DriveListStatus(const DriveInfo& drive);

// The source / target label for drive index (the prompt for -1). The label never says "RTV4000".
std::string DriveSelectionLabel(int index, const DriveInfo& drive);

}  // namespace quillmar
