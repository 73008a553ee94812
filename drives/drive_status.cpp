#include "drives/drive_status.h"

#include "base/log.h"

namespace quillmar {
namespace {

constexpr char kNeedsPatchSuffix[] = ", NEEDS TO BE PATCHED";

// A ReplayTV disk that is neither patched nor part of a two-drive system must be patched.
bool NeedsPatch(const DriveInfo& drive) {
  return drive.is_replaytv != 0 && drive.patched == 0 && drive.dual_position == 0;
}

}  // namespace

DriveRowStatus DriveListStatus(const DriveInfo& drive) {
  const bool rtv4000 = drive.rtv4000 != 0;
  DriveRowStatus status;
  if (drive.dual_position == 2) {
    status = {rtv4000 ? "RTV4000 Disk 2 of 2" : "ReplayTV Disk 2 of 2", kImageDisk2Of2};
  } else if (drive.is_replaytv == 0 && drive.system_disk != 0) {
    status = {"May be PC Disk", kImagePcDisk};
  } else if (drive.is_replaytv == 0) {
    status = {"NOT a ReplayTV Disk", kImageNotReplayTv};
  } else if (drive.dual_position != 0) {
    status = {rtv4000 ? "RTV4000 Disk 1 of 2" : "ReplayTV Disk 1 of 2", kImageDisk1Of2};
  } else {
    status = {rtv4000 ? "RTV4000 Disk" : "ReplayTV Disk", kImageReplayTv};
  }
  if (NeedsPatch(drive))
    status.text += kNeedsPatchSuffix;
  return status;
}

std::string DriveSelectionLabel(int index, const DriveInfo& drive) {
  if (index == -1)
    return kSelectDrivePrompt;
  std::string label =
      Format("%d) %s - ( %dGB ) - ", index, drive.model.c_str(), static_cast<int>(drive.size_gb));
  if (drive.dual_position == 2) {
    label += "ReplayTV Disk 2 of 2";
  } else if (drive.is_replaytv != 0) {
    label += drive.dual_position != 0 ? "ReplayTV Disk 1 of 2" : "ReplayTV Disk";
  } else {
    label += drive.system_disk != 0 ? "May be PC Disk" : "NOT a ReplayTV Disk";
  }
  if (NeedsPatch(drive))
    label += kNeedsPatchSuffix;
  return label;
}

}  // namespace quillmar
