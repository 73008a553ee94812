#include "cli/drive_listing.h"

#include <gtest/gtest.h>

namespace quillmar {
namespace {

struct StatusCase {
  const char* name;
  int is_replaytv, rtv4000, dual_position, patched, system_disk;
  const char* status;
};

class DriveStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(DriveStatus, FollowsTheWindowsRules) {
  const StatusCase& c = GetParam();
  DriveInfo drive;
  drive.model = "Disk";
  drive.size_sectors = 1000;
  drive.is_replaytv = c.is_replaytv;
  drive.rtv4000 = c.rtv4000;
  drive.dual_position = c.dual_position;
  drive.patched = c.patched;
  drive.system_disk = c.system_disk;
  EXPECT_EQ(cli::DriveStatusText(drive), c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, DriveStatus,
    ::testing::Values(StatusCase{"Unpatched", 1, 0, 0, 0, 0, "ReplayTV Disk, NEEDS TO BE PATCHED"},
                      StatusCase{"Patched", 1, 0, 0, 1, 0, "ReplayTV Disk"},
                      StatusCase{"FirstOfPair4000", 1, 1, 1, 1, 0, "RTV4000 Disk 1 of 2"},
                      StatusCase{"SecondOfPairWinsOverPcPartitions", 0, 0, 2, 0, 1,
                                 "ReplayTV Disk 2 of 2"},
                      StatusCase{"PcDisk", 0, 0, 0, 0, 1, "May be PC Disk"},
                      StatusCase{"Other", 0, 1, 0, 0, 0, "NOT a ReplayTV Disk"}),
    [](const ::testing::TestParamInfo<StatusCase>& case_info) { return case_info.param.name; });

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
