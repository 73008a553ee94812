#include "drives/classify.h"

#include <cerrno>
#include <tuple>

#include "base/log.h"
#include "base/shown_path.h"
#include "disk/block_io.h"
#include "disk/device_io.h"
#include "disk/drive_probe.h"
#include "disk/sector_io.h"
#include "disk/unique_fd.h"
#include "format/partition_block.h"
#include "format/volume_sequence.h"

namespace quillmar {
namespace {

// Sectors 0 and 1, the two sectors in front of the first partition.
constexpr uint32_t kLeadingSectors = 2;

// Whether the partitions fill the drive. A drive in standard order of 137 GB or more is used
// only up to 137 GB, so its partitions must end there.
bool PartitionsFillDrive(const DriveInfo& d) {
  // In 64 bits: lengths that wrap around 2^32 do not fill a drive.
  uint64_t total =
      uint64_t{d.p1_length} + d.p2_length + d.p3_length + d.p4_length + kLeadingSectors;
  if (d.rtv4000 || d.size_sectors < k137GbSectors)
    return d.size_sectors == total;
  return total == k137GbSectors;
}

// Derives every classification field from sectors 0 and 1 as read from the drive.
void Classify(DriveInfo& d, size_t index, Sector& sector0, Sector& sector1) {
  d.rtv4000 = IsRtv4000Disk(sector0) ? 1 : 0;
  if (d.rtv4000) {
    Rtv4000Byteswap(sector0);
    Rtv4000Byteswap(sector1);
  }
  d.size_sectors = g_forcedSectors[index] != 0 ? g_forcedSectors[index] : g_detectedSectors[index];
  std::array<PartitionEntry, 4> entries;
  for (int n = 1; n <= 4; ++n)
    entries[static_cast<size_t>(n - 1)] = ReadPartitionEntry(sector0, n);
  d.is_replaytv =
      entries[0].type == kRecorderPartitionType && entries[1].type == kRecorderPartitionType;
  d.p1_length = entries[0].length;
  d.p2_length = entries[1].length;
  d.p3_length = entries[2].length;
  d.p4_length = entries[3].length;
  d.p2_start = entries[1].start;
  d.p3_start = entries[2].start;
  d.dual_position = VolumeSequencePosition(sector1);
  d.pair_space_offset = d.dual_position != 0 ? VolumeSequenceSpaceOffset(sector1) : 0;
  d.pair_drive_bytes = d.dual_position != 0 ? VolumeSequenceDriveBytes(sector1) : 0;
  d.system_disk = IsPcDiskLayout(sector0) ? 1 : 0;
  d.size_gb = d.size_sectors / kSectorsPerGb;
  d.patched = PartitionsFillDrive(d) ? 1 : 0;
}

// Reads sectors 0 and 1 quietly; false unless both arrived in full.
bool ReadLeadingSectors(int fd, Sector& sector0, Sector& sector1) {
  return ReadAtQuietly(fd, 0, sector0) && ReadAtQuietly(fd, kBlockSize, sector1);
}

void ClassifyDrive(size_t index) {
  DriveInfo& d = DriveTable[index];
  if (d.model.empty() || d.unreadable)
    return;
  UniqueFd fd = UniqueFd::Open(d.device_path, OpenMode::kReadOnly);
  if (!fd.valid()) {
    int error = errno;
    bool refused = error == EACCES || error == EPERM;
    if (g_probePending) {
      LogLine(Format("%s (%s) : Unable to open (may be a CD-ROM drive)",
                     ShownPath(d.device_path).c_str(), d.model.c_str()));
      if (refused && !ReportUnreadableImageFile(d.device_path, error))
        ReportRawAccessNeedsRoot();
    }
    return;
  }
  d.length_bytes = Io().Length(fd.get());
  d.medium = Io().Medium(fd.get());
  Sector sector0{};
  Sector sector1{};
  bool complete = ReadLeadingSectors(fd.get(), sector0, sector1);
  fd.Close();
  if (!complete) {
    d.unreadable = 1;
    if (g_probePending) {
      LogLine(Format("%s (%s) : Unable to read partition table", ShownPath(d.device_path).c_str(),
                     d.model.c_str()));
    }
    return;
  }
  Classify(d, index, sector0, sector1);
}

}  // namespace

void ClassifyDrives() {
  if (g_probePending) {
    DriveTable.fill(DriveInfo{});
    ProbeDrives();
  }
  for (size_t i = 0; i < kMaxDrives; ++i)
    ClassifyDrive(i);
  g_probePending = false;
}

int FirstDriveChangedSinceListed() {
  const auto listed = DriveTable;
  ClassifyDrives();
  auto record = [](const DriveInfo& d) {
    return std::tie(d.device_path, d.model, d.size_sectors, d.p1_length, d.p2_length, d.p3_length,
                    d.p4_length, d.p2_start, d.p3_start, d.is_replaytv, d.rtv4000, d.unreadable,
                    d.dual_position, d.patched, d.system_disk, d.sector_bytes, d.length_bytes);
  };
  // Zeros: the medium could not be told (a device the tests stand in for): not a change.
  auto other_medium = [](const MediumId& was, const MediumId& is) {
    return was != MediumId{} && is != MediumId{} && was != is;
  };
  for (int i = 0; i < kMaxDrives; ++i) {
    const DriveInfo& was = listed[static_cast<size_t>(i)];
    if (record(was) != record(DriveAt(i)) || other_medium(was.medium, DriveAt(i).medium))
      return i;
  }
  return -1;
}

std::string DriveChangedSinceListedText(int drive) {
  return Format(
      "*** ERROR: Drive %d (%s) changed since the drives were listed (a disk swapped, removed\n"
      "           or written by another program)",
      drive, ShownPath(DriveAt(drive).device_path).c_str());
}

}  // namespace quillmar
