#include "cli/drive_listing.h"

#include <gtest/gtest.h>

namespace quillmar {
namespace {

// The status texts themselves are the window's (tests/gui/drive_status_test.cpp); a drive
// that was not found reads "Empty" here.
TEST(DriveStatus, AnAbsentDriveIsEmpty) {
  DriveInfo drive;
  drive.model = "found, but unreadable";
  drive.is_replaytv = 1;
  EXPECT_EQ(cli::DriveStatusText(drive), "Empty");
}

TEST(DriveList, ShowsRowsUpToTheLastPresentDrive) {
  std::array<DriveInfo, kMaxDrives> drives{};
  drives[0] = {"/tmp/old.img", "old.img", 2097152};
  drives[0].size_gb = 1;
  drives[0].is_replaytv = 1;
  drives[0].patched = 1;
  drives[3] = {"/dev/sdc", "WDC WD3200", 625142448};
  drives[3].size_gb = 320;
  drives[5].model = "found, but unreadable";  // size 0: listed as "Empty" like any absent one
  EXPECT_EQ(cli::RenderDriveList(drives),
            "Index  Device        Model       Size    Status\n"
            "0      /tmp/old.img  old.img     1 GB    ReplayTV Disk\n"
            "1      Empty\n"
            "2      Empty\n"
            "3      /dev/sdc      WDC WD3200  320 GB  NOT a ReplayTV Disk\n");
}

TEST(DriveList, RowZeroIsShownEvenWithoutAnyDrive) {
  std::array<DriveInfo, kMaxDrives> drives{};
  EXPECT_EQ(cli::RenderDriveList(drives), "Index  Device  Model  Size  Status\n0      Empty\n");
}

}  // namespace
}  // namespace quillmar
