// The default drive map is discovered from a sysfs tree; the tests build a fake one.
#include "disk/drive_map.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

// A sysfs tree with devices under devices/ and the links of block/ pointing at them, as the
// kernel lays it out.
class FakeSysfs {
 public:
  const std::string& root() const { return dir_.path(); }

  // A block device at devices/<parent>/block/<name>, linked from block/<name>.
  void AddDevice(const std::string& parent, const std::string& name, const std::string& dev,
                 const std::string& size, const std::string& scsi_type = "") {
    fs::path folder = fs::path(root()) / "devices" / parent / "block" / name;
    fs::create_directories(folder);
    Write(folder / "dev", dev);
    Write(folder / "size", size);
    if (!scsi_type.empty()) {
      fs::create_directories(folder / "device");
      Write(folder / "device" / "type", scsi_type);
    }
    fs::create_directories(fs::path(root()) / "block");
    fs::create_symlink(fs::path("..") / "devices" / parent / "block" / name,
                       fs::path(root()) / "block" / name);
  }
  void AddDisk(const std::string& name, const std::string& dev, const std::string& size = "1000") {
    AddDevice("pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0", name, dev, size, "0");
  }
  void AddVirtual(const std::string& name, const std::string& dev) {
    AddDevice("virtual", name, dev, "2048");
  }

 private:
  static void Write(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text << "\n";
  }

  testing::TempDir dir_;
};

TEST(DriveMap, ListsWholeDisksInDeviceNumberOrderAndSkipsTheRest) {
  FakeSysfs sysfs;
  sysfs.AddDisk("sdb", "8:16");
  sysfs.AddDisk("sda", "8:0");
  sysfs.AddDisk("sdc", "8:32");
  sysfs.AddDevice("pci0000:00/0000:00:04.0/nvme/nvme0", "nvme0n1", "259:0", "500118192");
  sysfs.AddDevice("pci0000:00/0000:00:05.0/virtio1", "vda", "252:0", "41943040");
  sysfs.AddDisk("sdd", "8:48", "0");                               // card reader without a card
  sysfs.AddDisk("sr0", "11:0", "2097151");                         // optical by name
  sysfs.AddDevice("pci0000:00/usb1", "sde", "8:64", "4096", "5");  // optical by type
  for (const char* name : {"loop0", "ram0", "zram0", "dm-0", "md0", "nbd0"}) {
    sysfs.AddVirtual(name, std::string("1:") + std::to_string(name[0]));
  }
  sysfs.AddDisk("sdf", "8:4");  // numeric order: 8:4 comes before 8:16
  EXPECT_EQ(DiscoverDisks(sysfs.root()),
            (Paths{"/dev/sda", "/dev/sdf", "/dev/sdb", "/dev/sdc", "/dev/vda", "/dev/nvme0n1"}));
}

TEST(DriveMap, TakesAtMostSixteenDisks) {
  FakeSysfs sysfs;
  for (int i = 20; i >= 1; --i)
    sysfs.AddDisk("disk" + std::to_string(i), "8:" + std::to_string(i));
  Paths disks = DiscoverDisks(sysfs.root());
  ASSERT_EQ(disks.size(), 16u);
  EXPECT_EQ(disks.front(), "/dev/disk1");
  EXPECT_EQ(disks.back(), "/dev/disk16");
}

TEST(DriveMap, SkipsEntriesItCannotReadAndMapsSubfolderNames) {
  FakeSysfs sysfs;
  sysfs.AddDisk("cciss!c0d0", "104:0");
  sysfs.AddDisk("nosize", "8:0", "");
  sysfs.AddDisk("baddev", "8:16", "100");
  fs::remove(fs::path(sysfs.root()) / "devices" /
             "pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/baddev/dev");
  fs::create_symlink("../devices/gone", fs::path(sysfs.root()) / "block" / "dangling");
  EXPECT_EQ(DiscoverDisks(sysfs.root()), Paths{"/dev/cciss/c0d0"});
}

TEST(DriveMap, MissingSysfsGivesNoDisks) {
  testing::TempDir empty;
  EXPECT_TRUE(DiscoverDisks(empty.path()).empty());
}

TEST(DriveMap, GivenPathsAreTheDrivesInOrderAtMostSixteen) {
  Paths given;
  for (int i = 0; i < 18; ++i)
    given.push_back("image" + std::to_string(i) + ".img");
  SetDrivePaths(given);
  EXPECT_EQ(DrivePath(0), "image0.img");
  EXPECT_EQ(DrivePath(15), "image15.img");
  EXPECT_EQ(DrivePath(16), "");
  EXPECT_EQ(DrivePath(-1), "");
  SetDrivePaths({"/dev/loop7", "b.img"});
  EXPECT_EQ(DrivePath(0), "/dev/loop7");  // a loop device named explicitly is used
  EXPECT_EQ(DrivePath(1), "b.img");
  EXPECT_EQ(DrivePath(2), "");
  SetDrivePaths({});
}

}  // namespace
}  // namespace quillmar
