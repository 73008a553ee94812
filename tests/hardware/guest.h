// The emulated-hardware tier: a small Linux guest under QEMU whose disks are real kernel block
// devices (libata on AHCI and IDE, usb-storage, virtio-scsi) backed by the test's image files.
// A case boots it once with its disks and a shell script; each 'run NAME COMMAND...' line of the
// script comes back as one section (both output streams together, and the exit status).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace quillmar::testing {

enum class Bus { kAhci, kIde, kIdeOptical, kUsb, kScsi, kScsi4096 };

struct GuestDisk {
  Bus bus = Bus::kAhci;
  std::string image;
  std::string serial;  // how the script finds the disk: $(disk SERIAL) gives its /dev path
  std::string model;   // the ATA model, or the SCSI product ("" for USB: QEMU's own)
  uint64_t bytes_per_second = 0;  // read and write throttle; 0: none
};

struct GuestSection {
  std::string output;
  int status = -1;
  double seconds = 0;  // how long the command ran, by the guest's clock
};

struct GuestRun {
  bool finished = false;  // the script ran to its end and the guest powered off
  std::string console;
  std::map<std::string, std::string> device_of_serial;
  std::map<std::string, GuestSection> sections;
  const GuestSection& Section(const std::string& name) const;
};

// Builds the guest once per process (cached across runs); false with the reason when it
// cannot be built here.
bool GuestAvailable(std::string* why);

// Boots the guest with the disks and runs the script; work_dir holds the initramfs.
GuestRun BootGuest(const std::vector<GuestDisk>& disks, const std::string& script,
                   const std::string& work_dir);

// A test suite whose cases share one boot: SetUpTestSuite calls Boot, every case needs the
// guest to have run the script to its end. Each Suite has its own folder and run.
template <typename Suite>
class GuestSuite : public ::testing::Test {
 protected:
  // Whether SetUpTestSuite should build its images and boot (SetUp reports why not).
  static bool GuestCanBoot() {
    std::string why;
    return GuestAvailable(&why);
  }
  static void Boot(const std::vector<GuestDisk>& disks, const std::string& script) {
    *run_ = BootGuest(disks, script, dir_->path());
  }
  void SetUp() override;

  static inline TempDir* dir_ = new TempDir;
  static inline GuestRun* run_ = new GuestRun;
};

#define QUILLMAR_REQUIRE_GUEST()                             \
  do {                                                       \
    std::string why_no_guest;                                \
    if (!::quillmar::testing::GuestAvailable(&why_no_guest)) \
      GTEST_SKIP() << why_no_guest;                          \
  } while (0)

template <typename Suite>
void GuestSuite<Suite>::SetUp() {
  QUILLMAR_REQUIRE_GUEST();
  ASSERT_TRUE(run_->finished) << run_->console;
}

}  // namespace quillmar::testing
