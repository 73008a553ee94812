// The probe on real kernel disks: each kind of disk listed with its model, size and status, as
// root, as a member of the disk group (no pass-through) and as an ordinary user.
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>

#include "tests/hardware/guest.h"
#include "tests/support/disk_image.h"

namespace quillmar::testing {
namespace {

struct ProbeRow {
  Bus bus;
  const char* serial;
  const char* model;         // given to QEMU
  uint64_t sectors;          // of 512 bytes
  const char* kernel_model;  // what the kernel's SCSI layer calls the disk
  bool ata;                  // IDENTIFY reaches it (as root)
};

constexpr const char* kLongModel = "QUILLMAR AHCI DISK WITH A 40-CHAR MODEL!";

const ProbeRow kRows[] = {
    {Bus::kAhci, "QMAHCI", kLongModel, 131072, "QUILLMAR AHCI DI", true},
    {Bus::kIde, "QMIDE", "QUILLMAR IDE DISK", 98304, "QUILLMAR IDE DIS", true},
    {Bus::kUsb, "QMUSB", "", 163840, "QEMU QEMU HARDDISK", false},
    {Bus::kScsi, "QMSCSI", "VIRTIO SCSI 512", 229376, "QMDISK VIRTIO SCSI 512", false},
    {Bus::kScsi4096, "QMSCSI4K", "VIRTIO SCSI 4096", 262144, "QMDISK VIRTIO SCSI 4096", false},
    {Bus::kIdeOptical, "QMCD", "QUILLMAR OPTICAL DRIVE", 16384, "", false},
};

bool Has(const std::string& text, const std::string& fragment) {
  return text.find(fragment) != std::string::npos;
}

// The lines of a drive list's table (they start with the drive index).
std::vector<std::string> TableRows(const std::string& text) {
  std::istringstream lines(text);
  std::vector<std::string> rows;
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])))
      rows.push_back(line);
  }
  return rows;
}

std::string RowOf(const std::string& text, const std::string& device) {
  for (const std::string& row : TableRows(text)) {
    if (Has(row, " " + device + " "))
      return row;
  }
  return "";
}

std::string NotAHardDrive(const std::string& device) {
  return device + " : DFP_GET_VERSION failed (not a hard drive?)";
}

std::string SizeLine(const std::string& device, const std::string& model, uint64_t sectors) {
  return device + " (" + model + ") : Detected size = " + std::to_string(sectors) + " sectors";
}

// The model the probe gives a disk: the ATA model where it can be had, else the kernel's.
std::string ListedModel(const ProbeRow& row) {
  return row.ata ? row.model : row.kernel_model;
}

class ProbeOnKernelDisks : public GuestSuite<ProbeOnKernelDisks> {
 protected:
  static void SetUpTestSuite() {
    if (!GuestCanBoot())
      return;
    std::vector<GuestDisk> disks;
    for (const ProbeRow& row : kRows) {
      std::string image = dir_->File(std::string(row.serial) + ".img");
      ASSERT_TRUE(MakeBlankImage(image, row.sectors));
      disks.push_back({row.bus, image, row.serial, row.model});
    }
    Boot(disks,
         "run list quillmar-cli list\n"
         "run optical quillmar-cli --drive /dev/sr0 list\n"
         "run disk_group su -s /bin/sh qdisk -c 'quillmar-cli list'\n"
         "run ordinary su -s /bin/sh quser -c 'quillmar-cli list'\n");
  }
  static std::string Device(const ProbeRow& row) { return run_->device_of_serial[row.serial]; }
};

// Root: ATA disks by their IDENTIFY model and size, the others by the kernel's name and length.
TEST_F(ProbeOnKernelDisks, RootListsEveryDiskKind) {
  const std::string& out = run_->Section("list").output;
  for (const ProbeRow& row : kRows) {
    if (row.bus == Bus::kIdeOptical)
      continue;
    std::string device = Device(row);
    SCOPED_TRACE(device + " " + row.serial);
    EXPECT_TRUE(Has(out, SizeLine(device, ListedModel(row), row.sectors))) << out;
    EXPECT_EQ(Has(out, NotAHardDrive(device)), !row.ata);
    std::string table_row = RowOf(out, device);
    EXPECT_TRUE(Has(table_row, ListedModel(row))) << out;
    EXPECT_TRUE(table_row.ends_with("NOT a ReplayTV Disk")) << out;
  }
  EXPECT_TRUE(Has(out, Device(kRows[4]) + " (" + kRows[4].kernel_model +
                           ") : Logical sector size is 4096 bytes"));
  EXPECT_EQ(run_->Section("list").status, 0);
}

// An optical drive named as a drive is not a hard drive: listed by the model its driver read
// and by its length, not dropped.
TEST_F(ProbeOnKernelDisks, OpticalDriveTakesTheNotAHardDrivePath) {
  const std::string& out = run_->Section("optical").output;
  EXPECT_TRUE(Has(out, NotAHardDrive("/dev/sr0"))) << out;
  EXPECT_TRUE(Has(out, SizeLine("/dev/sr0", kRows[5].model, kRows[5].sectors))) << out;
  EXPECT_TRUE(Has(RowOf(out, "/dev/sr0"), "QUILLMAR OPTICAL DRIVE")) << out;
}

// The disk group may read the disks but not send them commands: every disk takes the
// not-a-hard-drive path, ATA disks still by their whole model from the driver's IDENTIFY copy.
TEST_F(ProbeOnKernelDisks, DiskGroupUserSeesModelsWithoutPassThrough) {
  const std::string& out = run_->Section("disk_group").output;
  for (const ProbeRow& row : kRows) {
    if (row.bus == Bus::kIdeOptical)
      continue;
    EXPECT_TRUE(Has(out, NotAHardDrive(Device(row)))) << out;
    EXPECT_TRUE(Has(out, SizeLine(Device(row), ListedModel(row), row.sectors))) << out;
  }
}

// An ordinary user opens no disk: every drive "Empty", and the hint to run as root once.
TEST_F(ProbeOnKernelDisks, OrdinaryUserSeesEmptyDrivesAndOneRootHint) {
  const std::string& out = run_->Section("ordinary").output;
  std::vector<std::string> rows = TableRows(out);
  EXPECT_FALSE(rows.empty()) << out;
  for (const std::string& row : rows)
    EXPECT_TRUE(row.ends_with("Empty")) << row;
  size_t first = out.find("Raw drive access needs root");
  EXPECT_NE(first, std::string::npos) << out;
  EXPECT_EQ(out.find("Raw drive access needs root", first + 1), std::string::npos) << out;
}

}  // namespace
}  // namespace quillmar::testing
