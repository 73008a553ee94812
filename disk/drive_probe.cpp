#include "disk/drive_probe.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "base/log.h"
#include "base/settings.h"
#include "base/shown_path.h"
#include "disk/drive_map.h"
#include "disk/drive_table.h"

namespace quillmar {
namespace {

// IDENTIFY data: the 40-character model number and the 28-bit sector count.
constexpr size_t kModelOffset = 54;
constexpr size_t kModelLength = 40;
constexpr size_t kSectorCountOffset = 120;

// The search's probe budget (at most one less probe) and the largest last sector it believes.
constexpr int kSearchBudget = 100;
constexpr uint64_t kLargestPlausibleSector = 2000000000u;
constexpr double kGbPerSector = 5.12e-7;

ProbePlatform* g_platform = nullptr;
bool g_rawAccessNoticeGiven = false;

bool IsModelSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Removes trailing white space; keeps at most 40 characters.
std::string CleanModel(std::string text) {
  if (text.size() > kModelLength)
    text.resize(kModelLength);
  while (!text.empty() && IsModelSpace(text.back()))
    text.pop_back();
  return text;
}

std::string ModelFromIdentify(const Sector& data) {
  std::array<uint8_t, kModelLength> model{};
  std::copy_n(data.begin() + kModelOffset, kModelLength, model.begin());
  SwapWordBytes(model);
  std::string text;
  for (uint8_t c : model) {
    if (c == 0)
      break;
    text.push_back(static_cast<char>(c));
  }
  return CleanModel(text);
}

// A drive that pass-through does not reach is named from the platform's other sources.
std::string ModelWithoutPassThrough(ProbePlatform& platform, int handle, const std::string& path) {
  std::string model = ShownPath(CleanModel(platform.FallbackModel(handle, path)));
  return model.empty() ? "Unknown" : model;
}

// The last readable sector + 1, found by doubling steps and then halving them.
uint32_t SearchDriveSize(ProbePlatform& platform, int handle, const DriveInfo& d) {
  LogLine(Format("%s (%s) : Using binary search drive size detection",
                 ShownPath(d.device_path).c_str(), d.model.c_str()));
  uint64_t last = ~uint64_t{0};  // no sector known to be readable yet
  uint64_t step = 1;
  bool growing = true;
  int budget = kSearchBudget;
  Sector scratch{};
  while (step != 0) {
    if (--budget <= 0)
      break;
    uint64_t candidate = last + step;
    if (platform.ReadSectorAt(handle, candidate * kBlockSize, &scratch)) {
      last = candidate;
      if (growing) {
        step *= 2;
      } else if (step > 1) {
        step /= 2;
      }
    } else {
      step /= 2;
      growing = false;
    }
  }
  if (last > kLargestPlausibleSector) {
    LogLine(
        Format("%s (%s) : There appears to be a seek overflow problem on this drive, interesting!",
               ShownPath(d.device_path).c_str(), d.model.c_str()));
    last = k137GbSectors - 1;
  }
  return static_cast<uint32_t>(last + 1);
}

// The size of a drive whose IDENTIFY count cannot be trusted (or is missing): the length the
// platform reports, else the search. A length beyond 32 bits of sectors is taken as the
// largest 32-bit size rather than wrapped to a smaller one.
uint32_t MeasureDriveSize(ProbePlatform& platform, int handle, const DriveInfo& d) {
  uint64_t bytes = 0;
  if (!platform.LengthBytes(handle, &bytes))
    return SearchDriveSize(platform, handle, d);
  LogLine(Format("%s (%s) : Used WinXP drive size detection", ShownPath(d.device_path).c_str(),
                 d.model.c_str()));
  uint64_t sectors = bytes / kBlockSize;
  return static_cast<uint32_t>(std::min<uint64_t>(sectors, UINT32_MAX));
}

// Asks the drive for its identity. Returns the IDENTIFY sector count (0 when IDENTIFY failed),
// or the 137 GB size when pass-through does not reach the drive, so that it gets measured.
uint32_t IdentifyDrive(ProbePlatform& platform, int handle, DriveInfo& d) {
  const std::string shown = ShownPath(d.device_path);
  const char* path = shown.c_str();
  bool packet_device = false;
  if (!platform.PassThroughAvailable(handle, &packet_device)) {
    LogLine(Format("%s : DFP_GET_VERSION failed (not a hard drive?)", path));
    d.model = ModelWithoutPassThrough(platform, handle, d.device_path);
    return k137GbSectors;
  }
  uint8_t command = packet_device ? kIdentifyPacketDevice : kIdentifyDevice;
  if (packet_device)
    LogLine(Format("%s : ATAPI device", path));
  Sector data{};
  IdentifyError error{};
  if (!platform.Identify(handle, command, &data, &error)) {
    LogLine(Format("%s : Identify Command Failed", path));
    LogLine(Format("   DriverStatus: bDriverError=0x%X, bIDEStatus=0x%X", error.driver_error,
                   error.ide_error));
    return 0;
  }
  d.model = ModelFromIdentify(data);
  return GetLe32(data, kSectorCountOffset);
}

void RecordDriveSize(int index, uint32_t size) {
  const DriveInfo& d = DriveTable[static_cast<size_t>(index)];
  g_detectedSectors[static_cast<size_t>(index)] = size;
  if (size == 0) {
    LogLine(Format("%s (%s) : Failed to get drive size", ShownPath(d.device_path).c_str(),
                   d.model.c_str()));
    return;
  }
  LogLine(Format("%s (%s) : Detected size = %u sectors", ShownPath(d.device_path).c_str(),
                 d.model.c_str(), size));
  if (size > g_maxDriveSectors) {
    double gb = g_maxDriveSectors * kGbPerSector;
    LogLine(Format("  This is greater than %gGB so I am forcing size to %gGB!)", gb, gb));
    g_forcedSectors[static_cast<size_t>(index)] = g_maxDriveSectors;
  }
}

void WarnAboutSectorSize(const DriveInfo& d) {
  if (d.sector_bytes == kBlockSize)
    return;
  LogLine(
      Format("%s (%s) : Logical sector size is %u bytes; the drive can be read, but "
             "nothing will be written to it",
             ShownPath(d.device_path).c_str(), d.model.c_str(), d.sector_bytes));
}

enum class OpenOutcome { kOpened, kAbsent, kRefused };

OpenOutcome ProbeDrive(ProbePlatform& platform, int index) {
  DriveInfo& d = DriveTable[static_cast<size_t>(index)];
  std::string path = DrivePath(index);
  if (path.empty())
    return OpenOutcome::kAbsent;
  if (int earlier = EarlierNameOfSameDisk(index); earlier >= 0) {
    LogLine(Format("%s is the same disk as %s (drive %d); it is left out of the drive list",
                   ShownPath(path).c_str(), ShownPath(DrivePath(earlier)).c_str(), earlier));
    return OpenOutcome::kAbsent;
  }
  d.device_path = path;
  int handle = platform.Open(d.device_path);
  if (handle < 0) {
    int error = errno;
    bool refused = error == EACCES || error == EPERM;
    return refused && !ReportUnreadableImageFile(d.device_path, error) ? OpenOutcome::kRefused
                                                                       : OpenOutcome::kAbsent;
  }
  uint32_t size = IdentifyDrive(platform, handle, d);
  uint32_t logical = platform.LogicalSectorSize(handle);
  d.sector_bytes = logical == 0 ? static_cast<uint32_t>(kBlockSize) : logical;
  // IDENTIFY counts the drive's own logical sectors; only its length in bytes gives 512-byte ones.
  if (size >= k137GbSectors || (size != 0 && d.sector_bytes != kBlockSize))
    size = MeasureDriveSize(platform, handle, d);
  platform.Close(handle);
  RecordDriveSize(index, size);
  WarnAboutSectorSize(d);
  return OpenOutcome::kOpened;
}

}  // namespace

ProbePlatform& CurrentProbePlatform() {
  return g_platform != nullptr ? *g_platform : LinuxProbePlatform();
}

void SetProbePlatform(ProbePlatform* platform) {
  g_platform = platform;
}

void SwapWordBytes(std::span<uint8_t> text) {
  for (size_t p = 0; p + 1 < text.size(); p += 2)
    std::swap(text[p], text[p + 1]);
}

void ReportRawAccessNeedsRoot() {
  if (g_rawAccessNoticeGiven)
    return;
  g_rawAccessNoticeGiven = true;
  LogLine(
      "Some drives could not be opened: permission denied. Raw drive access needs root "
      "(run the program with sudo), or name image files as drives with --drive.");
}

bool ReportUnreadableImageFile(const std::string& path, int error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  LogLine(
      Format("%s : Could not open image file: %s", ShownPath(path).c_str(), std::strerror(error)));
  return true;
}

void ResetRawAccessNotice() {
  g_rawAccessNoticeGiven = false;
}

void ProbeDrives() {
  ProbeDrives(CurrentProbePlatform());
}

void ProbeDrives(ProbePlatform& platform) {
  bool refused = false;
  for (int i = 0; i < kMaxDrives; ++i) {
    if (ProbeDrive(platform, i) == OpenOutcome::kRefused)
      refused = true;
  }
  if (refused)
    ReportRawAccessNeedsRoot();
}

}  // namespace quillmar
