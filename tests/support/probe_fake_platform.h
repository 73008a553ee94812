// A probe platform that plays drives by path (whether they open, what pass-through and IDENTIFY
// answer, the length they report, which sectors the size search can read) and counts what the
// probe asked; and a fixture with an empty drive table, default settings and a scripted
// front-end, which puts the process-wide state back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/settings.h"
#include "disk/drive_map.h"
#include "disk/drive_probe.h"
#include "disk/drive_table.h"
#include "disk/probe_platform.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar::testing {

struct FakeDrive {
  bool pass_through = true;
  bool packet_device = false;
  bool identify_ok = true;
  std::string model_field;  // the 40 bytes of the model number as the drive means them
  uint32_t identify_sectors = 0;
  std::optional<uint64_t> length_bytes;  // nothing: the length request fails
  uint64_t readable_sectors = 0;         // sectors 0 .. n-1 can be read
  std::string fallback_model;
  uint32_t logical_sector_size = 512;
};

class FakeProbePlatform : public ProbePlatform {
 public:
  void Add(const std::string& path, const FakeDrive& drive) { drives_[path] = drive; }

  int Open(const std::string& path) override {
    auto it = drives_.find(path);
    if (it == drives_.end()) {
      errno = ENOENT;
      return -1;
    }
    handles_.push_back(&it->second);
    ++open_handles;
    return static_cast<int>(handles_.size() - 1);
  }
  bool PassThroughAvailable(int handle, bool* packet_device) override {
    *packet_device = At(handle).packet_device;
    return At(handle).pass_through;
  }
  bool Identify(int handle, uint8_t command, Sector* data, IdentifyError* error) override {
    identify_commands.push_back(command);
    const FakeDrive& drive = At(handle);
    *error = {};
    if (!drive.identify_ok)
      return false;
    data->fill(0xEE);  // bytes the probe must not take
    // Words 27..46 hold the model with the first character of each pair in the high byte.
    for (size_t i = 0; i < 40; ++i) {
      uint8_t c = i < drive.model_field.size() ? static_cast<uint8_t>(drive.model_field[i]) : 0;
      (*data)[54 + (i ^ 1)] = c;
    }
    PutLe32(*data, 120, drive.identify_sectors);
    return true;
  }
  bool LengthBytes(int handle, uint64_t* bytes) override {
    *bytes = At(handle).length_bytes.value_or(0);
    return At(handle).length_bytes.has_value();
  }
  bool ReadSectorAt(int handle, uint64_t offset, Sector* buffer) override {
    ++sector_reads;
    buffer->fill(0);
    return offset % kBlockSize == 0 && offset / kBlockSize < At(handle).readable_sectors;
  }
  std::string FallbackModel(int handle, const std::string&) override {
    return At(handle).fallback_model;
  }
  uint32_t LogicalSectorSize(int handle) override { return At(handle).logical_sector_size; }
  void Close(int handle) override {
    At(handle);
    --open_handles;
  }

  int open_handles = 0;
  int sector_reads = 0;
  std::vector<uint8_t> identify_commands;

 private:
  const FakeDrive& At(int handle) const { return *handles_.at(static_cast<size_t>(handle)); }

  std::map<std::string, FakeDrive> drives_;
  std::vector<const FakeDrive*> handles_;
};

class ProbeTestBase : public ::testing::Test {
 protected:
  ProbeTestBase() {
    ResetDriveTable();
    ResetSettings();
  }
  ~ProbeTestBase() override {
    SetProbePlatform(nullptr);
    SetDrivePaths({});
    ResetDriveTable();
    ResetSettings();
  }

  // Maps the fake drive as drive 0 and probes it.
  void ProbeOne(const FakeDrive& drive) {
    platform_.Add("fake0", drive);
    SetDrivePaths({"fake0"});
    ProbeDrives(platform_);
  }

  TempDir dir_;
  ScriptedFrontEnd ui_{true, dir_.File("quillmar.log")};
  FakeProbePlatform platform_;
};

}  // namespace quillmar::testing
