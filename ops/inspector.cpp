#include "ops/inspector.h"

#include <algorithm>
#include <cinttypes>

#include "base/log.h"
#include "base/shown_path.h"
#include "disk/device_io.h"
#include "disk/drive_table.h"
#include "disk/sector_io.h"
#include "disk/unique_fd.h"
#include "format/checksum.h"
#include "format/fs_blocks.h"
#include "format/volume_sequence.h"

namespace quillmar {
namespace {

constexpr uint64_t kSectorBytes = kBlockSize;
constexpr uint32_t kMinClusterSize = 512;
constexpr uint32_t kMaxClusterSize = 0x800000;
constexpr uint64_t kMinRootCluster = 3;
constexpr uint64_t kMaxRootCluster = 100;
constexpr uint32_t kMaxCrcLength = kFsBlockSize - kHeaderSize;
// The patch reseals a superblock from its first 512 bytes only: a CRC over 488 bytes or more
// cannot be kept right.
constexpr uint32_t kMaxSuperCrcLength = 487;
// Where each drive's part of a two-drive system begins on the drive.
constexpr uint64_t kFirstDrivePartOffset = 0;
constexpr uint64_t kSecondDrivePartOffset = 1024;
constexpr size_t kRootEntries = 448;
constexpr size_t kRootEntrySize = 32;
constexpr size_t kRootEntryCount = 18;
constexpr uint64_t kEmptySlot = ~uint64_t{0};
constexpr size_t kLabelWidth = 8;
// The second drive's part of the joined space begins at its sector 2.
constexpr uint64_t kSecondDriveReserve = 2;

// Text stored on the disk, as shown: a crafted name holding a line break or a terminal escape
// must not print lines or commands of its own.
std::string TextField(std::span<const uint8_t> block, size_t offset, size_t width) {
  std::string text;
  for (size_t i = 0; i < width && block[offset + i] != 0; ++i) {
    text += static_cast<char>(block[offset + i]);
  }
  return ShownPath(text);
}

// An open drive with its byte order, through which a file system is read.
struct OpenDrive {
  UniqueFd fd;
  std::string path;
  bool rtv4000 = false;
  uint64_t size_sectors = 0;
};

bool OpenForInspection(const std::string& path, OpenDrive& drive) {
  drive.path = path;
  drive.fd = UniqueFd::Open(path, OpenMode::kReadOnly);
  if (!drive.fd.valid())
    return false;
  int64_t length = Io().Length(drive.fd.get());
  drive.size_sectors = length > 0 ? static_cast<uint64_t>(length) / kSectorBytes : 0;
  return true;
}

class FileSystemInspector {
 public:
  FileSystemInspector(const OpenDrive& drive, InspectedFileSystem& fs,
                      std::vector<std::string>& problems, const std::string& name)
      : drive_(drive), fs_(fs), problems_(problems), name_(name) {}

  void Run() {
    if (!ReadSystemBlock())
      return;
    if (!InspectPair("superblock", 1, kSuperblockKind))
      return;
    FsBlock superblock = ReadBlock(1);
    fs_.superblock_cluster_count = GetBe64(superblock, kSuperClusterCount);
    fs_.root_cluster = GetBe64(superblock, kSuperRootCluster);
    CheckSuperblockFields(superblock);
    if (fs_.root_cluster < kMinRootCluster || fs_.root_cluster > kMaxRootCluster ||
        !ClusterPairInside(fs_.root_cluster)) {
      Problem(Format("the root directory cluster %" PRIu64 " is not valid", fs_.root_cluster));
      return;
    }
    if (InspectPair("root directory", fs_.root_cluster, kDirectoryKind))
      InspectListedDirectories(ReadBlock(fs_.root_cluster));
  }

 private:
  void Problem(const std::string& text) { problems_.push_back(name_ + ": " + text); }

  uint64_t ClusterOffset(uint64_t cluster) const {
    return fs_.start_sector * kSectorBytes + cluster * fs_.cluster_size;
  }

  // The block of cluster c and its copy both lie inside the partition.
  bool ClusterPairInside(uint64_t cluster) const {
    uint64_t end = ClusterOffset(cluster + 1) + kFsBlockSize;
    return end <= (fs_.start_sector + fs_.length_sectors) * kSectorBytes;
  }

  FsBlock ReadBlock(uint64_t cluster, bool* ok = nullptr) const {
    FsBlock block{};
    bool read = ReadAtQuietly(drive_.fd.get(), ClusterOffset(cluster), block);
    if (ok != nullptr)
      *ok = read;
    if (drive_.rtv4000)
      Rtv4000Byteswap(block);
    return block;
  }

  bool ReadSystemBlock() {
    FsBlock block{};
    if (!ReadAtQuietly(drive_.fd.get(), fs_.start_sector * kSectorBytes, block)) {
      Problem("the system block cannot be read");
      return false;
    }
    if (drive_.rtv4000)
      Rtv4000Byteswap(block);
    if (GetBe32(block, kSystemMagic) != kSystemBlockMagic) {
      Problem(Format("the system block has no file-system magic (0x%08x)",
                     GetBe32(block, kSystemMagic)));
      return false;
    }
    fs_.system_block_ok = true;
    fs_.label = TextField(block, kSystemLabel, kLabelWidth);
    fs_.cluster_size = GetBe32(block, kSystemClusterSize);
    fs_.cluster_count = GetBe64(block, kSystemClusterCount);
    if (fs_.cluster_size < kMinClusterSize || fs_.cluster_size > kMaxClusterSize ||
        fs_.cluster_size % kSectorBytes != 0) {
      Problem(Format("the cluster size %u is not valid", fs_.cluster_size));
      return false;
    }
    uint64_t sectors_per_cluster = fs_.cluster_size / kSectorBytes;
    if (fs_.cluster_count > fs_.length_sectors / sectors_per_cluster) {
      Problem(Format("%" PRIu64 " clusters of %u bytes do not fit in the partition's %" PRIu64
                     " sectors",
                     fs_.cluster_count, fs_.cluster_size, fs_.length_sectors));
    }
    if (!ClusterPairInside(1)) {
      Problem("the partition is too small for its superblock");
      return false;
    }
    return true;
  }

  void CheckSuperblockFields(const FsBlock& superblock) {
    if (fs_.superblock_cluster_count != fs_.cluster_count) {
      Problem(Format("the superblock counts %" PRIu64 " clusters, the system block %" PRIu64,
                     fs_.superblock_cluster_count, fs_.cluster_count));
    }
    if (GetBe32(superblock, kSuperClusterSize) != fs_.cluster_size) {
      Problem(Format("the superblock's cluster size %u differs from the system block's",
                     GetBe32(superblock, kSuperClusterSize)));
    }
    if (TextField(superblock, kSuperLabel, kLabelWidth) != fs_.label) {
      Problem("the superblock's label differs from the system block's");
    }
  }

  // A directory block's CRC covers its whole body; a superblock's covers at least its fields and
  // no more than the patch can reseal.
  static bool CrcLengthValid(uint16_t kind, uint32_t crc_length) {
    if (kind == kDirectoryKind)
      return crc_length == kDirectoryCrcLength;
    return crc_length >= kSuperCrcLength && crc_length <= kMaxSuperCrcLength;
  }

  // Checks the block of a cluster and its copy; false when they cannot be read.
  bool InspectPair(const std::string& what, uint64_t cluster, uint16_t kind) {
    InspectedBlock result;
    result.name = what;
    result.cluster = cluster;
    bool first_read = false;
    bool copy_read = false;
    FsBlock block = ReadBlock(cluster, &first_read);
    FsBlock copy = ReadBlock(cluster + 1, &copy_read);
    result.readable = first_read && copy_read;
    std::string where = Format("%s (cluster %" PRIu64 ")", what.c_str(), cluster);
    if (!result.readable) {
      Problem(where + " or its copy cannot be read");
      fs_.blocks.push_back(result);
      return false;
    }
    result.stored_cluster = GetBe64(block, kHeaderCluster);
    result.kind = GetBe16(block, kHeaderKind);
    result.crc_length = GetBe32(block, kHeaderCrcLength);
    result.crc = GetBe16(block, kHeaderCrc);
    result.xor_byte = block[kHeaderXor];
    result.computed_xor = HeaderXor(block);
    result.xor_ok = result.computed_xor == result.xor_byte;
    bool crc_length_ok = CrcLengthValid(kind, result.crc_length);
    if (result.crc_length <= kMaxCrcLength) {
      result.computed_crc =
          Crc16(std::span<const uint8_t>(block).subspan(kHeaderSize, result.crc_length));
      result.crc_ok = crc_length_ok && result.computed_crc == result.crc;
    }
    result.copy_identical = block == copy;
    if (result.kind != kind) {
      Problem(Format("%s has kind 0x%x, expected 0x%x", where.c_str(), result.kind, kind));
    }
    if (block[kHeaderMarker] != kBlockMarker) {
      Problem(Format("%s has marker 0x%02x", where.c_str(), block[kHeaderMarker]));
    }
    if (result.stored_cluster != cluster) {
      Problem(Format("%s names cluster %" PRIu64, where.c_str(), result.stored_cluster));
    }
    if (!crc_length_ok) {
      Problem(Format("%s covers %u bytes by its CRC", where.c_str(), result.crc_length));
    } else if (!result.crc_ok) {
      Problem(Format("%s has CRC 0x%04x, its contents give 0x%04x", where.c_str(), result.crc,
                     result.computed_crc));
    }
    if (!result.xor_ok) {
      Problem(Format("%s has XOR byte 0x%02x, its header gives 0x%02x", where.c_str(),
                     result.xor_byte, result.computed_xor));
    }
    if (!result.copy_identical)
      Problem(where + " differs from its copy");
    fs_.blocks.push_back(result);
    return true;
  }

  // The directories the root lists (the Photo partition's "tmp" and "Photo"); entries that do
  // not lead to a directory block inside the partition are not followed.
  void InspectListedDirectories(const FsBlock& root) {
    for (size_t i = 0; i < kRootEntryCount; ++i) {
      uint64_t cluster = GetBe64(root, kRootEntries + kRootEntrySize * i);
      if (cluster == kEmptySlot || cluster <= fs_.root_cluster + 1 ||
          cluster + 1 >= fs_.cluster_count || !ClusterPairInside(cluster)) {
        continue;
      }
      bool ok = false;
      FsBlock block = ReadBlock(cluster, &ok);
      if (!ok || GetBe16(block, kHeaderKind) != kDirectoryKind)
        continue;
      std::string name = TextField(block, kDirName, 64);
      InspectPair("directory '" + name + "'", cluster, kDirectoryKind);
    }
  }

  const OpenDrive& drive_;
  InspectedFileSystem& fs_;
  std::vector<std::string>& problems_;
  std::string name_;
};

void InspectFileSystem(const OpenDrive& drive, uint64_t start, uint64_t length,
                       const std::string& where, InspectedFileSystem& fs,
                       std::vector<std::string>& problems, const std::string& name) {
  fs.present = true;
  fs.where = where;
  fs.device_path = drive.path;
  fs.start_sector = start;
  fs.length_sectors = length;
  FileSystemInspector(drive, fs, problems, name).Run();
}

InspectedVolumeSequence ReadVolumeSequence(std::span<const uint8_t> sector1) {
  InspectedVolumeSequence vs;
  vs.magic = GetBe32(sector1, 0);
  vs.position = VolumeSequencePosition(sector1);
  vs.drive_index = GetBe64(sector1, 8);
  vs.drive_count = GetBe32(sector1, 16);
  vs.space_offset = VolumeSequenceSpaceOffset(sector1);
  vs.drive_offset = GetBe64(sector1, 32);
  vs.drive_bytes = VolumeSequenceDriveBytes(sector1);
  return vs;
}

// Sectors 0 and 1 in standard order; false when they cannot be read.
bool ReadHead(OpenDrive& drive, Sector& sector0, Sector& sector1) {
  if (!ReadAtQuietly(drive.fd.get(), 0, sector0))
    return false;
  if (!ReadAtQuietly(drive.fd.get(), kSectorBytes, sector1))
    return false;
  drive.rtv4000 = IsRtv4000Disk(sector0);
  if (drive.rtv4000) {
    Rtv4000Byteswap(sector0);
    Rtv4000Byteswap(sector1);
  }
  return true;
}

// A pair's block places the drive's part in the joined space: its size must be whole sectors that
// the drive holds, beginning where the join puts it.
void CheckPairSizes(const InspectedVolumeSequence& vs, uint64_t drive_sectors,
                    const std::string& path, std::vector<std::string>& problems) {
  if (vs.drive_bytes == 0 || vs.drive_bytes % kSectorBytes != 0 ||
      vs.drive_bytes / kSectorBytes > drive_sectors) {
    problems.push_back(Format(
        "the volume sequence block of %s gives the drive %" PRIu64 " bytes; it holds %" PRIu64,
        ShownPath(path).c_str(), vs.drive_bytes, drive_sectors * kSectorBytes));
  }
  uint64_t part_offset = vs.position == 1 ? kFirstDrivePartOffset : kSecondDrivePartOffset;
  if (vs.drive_offset != part_offset) {
    problems.push_back(
        Format("the volume sequence block of %s places the drive's part at byte "
               "%" PRIu64 ", not %" PRIu64,
               ShownPath(path).c_str(), vs.drive_offset, part_offset));
  }
}

void CheckSecondDriveOfPair(InspectionReport& report) {
  for (const PartitionEntry& entry : report.entries) {
    if (entry.type != 0 || entry.start != 0 || entry.length != 0) {
      report.problems.push_back(
          "the second drive of a two-drive system should have an empty partition table");
      return;
    }
  }
}

void CheckLayout(InspectionReport& report, uint64_t space_end) {
  const PartitionEntry& p1 = report.entries[0];
  const PartitionEntry& p2 = report.entries[1];
  const PartitionEntry& p3 = report.entries[2];
  if (p2.start != uint64_t{p1.length} + 2) {
    report.problems.push_back(
        Format("partition 2 starts at sector %u, not directly after partition 1 (%" PRIu64 ")",
               p2.start, uint64_t{p1.length} + 2));
  }
  uint64_t p2_end = uint64_t{p2.start} + p2.length;
  if (space_end != 0 && p2_end > space_end) {
    report.problems.push_back(Format("partition 2 ends at sector %" PRIu64
                                     ", beyond the end of the disk (%" PRIu64 ")",
                                     p2_end, space_end));
  }
  if (p3.type == kRecorderPartitionType && p3.length != 0) {
    uint64_t p3_end = uint64_t{p3.start} + p3.length;
    if (p3.start < p2_end) {
      report.problems.push_back("partition 3 overlaps partition 2");
    }
    if (space_end != 0 && p3_end > space_end) {
      report.problems.push_back(Format("partition 3 ends at sector %" PRIu64
                                       ", beyond the end of the disk (%" PRIu64 ")",
                                       p3_end, space_end));
    }
  }
}

// The second drive of a pair, with the size its volume sequence block records. Its part must begin
// in the joined space where drive 1's ends: another pair's drive 2 does not.
bool OpenSecondDrive(const std::string& path, uint64_t first_bytes, OpenDrive& drive,
                     uint64_t& recorded_sectors, std::vector<std::string>& problems) {
  Sector sector0{};
  Sector sector1{};
  if (!OpenForInspection(path, drive) || !ReadHead(drive, sector0, sector1)) {
    problems.push_back("the second drive " + path + " cannot be read");
    return false;
  }
  InspectedVolumeSequence vs = ReadVolumeSequence(sector1);
  if (vs.position != 2) {
    problems.push_back(path + " is not the second drive of a two-drive system");
    return false;
  }
  if (vs.space_offset != first_bytes) {
    problems.push_back(
        Format("%s is the second drive of another two-drive system: its part of the"
               " joined space begins at byte %" PRIu64 ", drive 1's ends at %" PRIu64,
               ShownPath(path).c_str(), vs.space_offset, first_bytes));
    return false;
  }
  CheckPairSizes(vs, drive.size_sectors, path, problems);
  recorded_sectors = vs.drive_bytes / kSectorBytes;
  return true;
}

void InspectRecorderDisk(OpenDrive& drive, const std::string& second_path,
                         InspectionReport& report) {
  const PartitionEntry& p2 = report.entries[1];
  const PartitionEntry& p3 = report.entries[2];
  bool first_of_pair = report.volume_sequence.position == 1;
  uint64_t s1 =
      first_of_pair ? report.volume_sequence.drive_bytes / kSectorBytes : drive.size_sectors;
  OpenDrive second;
  uint64_t s2 = 0;
  bool have_second =
      first_of_pair && !second_path.empty() &&
      OpenSecondDrive(second_path, report.volume_sequence.drive_bytes, second, s2, report.problems);
  uint64_t space_end = first_of_pair ? (have_second ? s1 + s2 - kSecondDriveReserve : 0) : s1;
  CheckLayout(report, space_end);

  InspectFileSystem(drive, p2.start, p2.length, "partition 2", report.mpeg, report.problems,
                    "MPEG file system");
  if (p3.type != kRecorderPartitionType || p3.length == 0)
    return;
  if (!first_of_pair) {
    InspectFileSystem(drive, p3.start, p3.length, "partition 3", report.photo, report.problems,
                      "Photo file system");
  } else if (have_second && p3.start >= s1) {
    InspectFileSystem(second, p3.start - s1 + kSecondDriveReserve, p3.length,
                      "partition 3 on drive 2 (" + second_path + ")", report.photo, report.problems,
                      "Photo file system");
  } else if (have_second) {
    report.problems.push_back("partition 3 of a two-drive system does not lie on drive 2");
  }
}

}  // namespace

InspectionReport InspectDrive(const std::string& path, const std::string& second_path) {
  InspectionReport report;
  report.device_path = path;
  OpenDrive drive;
  Sector sector0{};
  Sector sector1{};
  if (!OpenForInspection(path, drive)) {
    report.problems.push_back("the drive cannot be opened");
    return report;
  }
  report.size_sectors = drive.size_sectors;
  if (!ReadHead(drive, sector0, sector1)) {
    report.problems.push_back("sectors 0 and 1 cannot be read");
    return report;
  }
  report.readable = true;
  report.rtv4000 = drive.rtv4000;
  report.signature_ok = sector0[510] == 0x55 && sector0[511] == 0xAA;
  for (int n = 1; n <= 4; ++n)
    report.entries[n - 1] = ReadPartitionEntry(sector0, n);
  report.is_replaytv = report.entries[0].type == kRecorderPartitionType &&
                       report.entries[1].type == kRecorderPartitionType;
  report.volume_sequence = ReadVolumeSequence(sector1);
  if (!report.signature_ok)
    report.problems.push_back("the partition block has no signature");
  if (report.volume_sequence.position != 0)
    CheckPairSizes(report.volume_sequence, drive.size_sectors, path, report.problems);

  if (report.volume_sequence.position == 2) {
    CheckSecondDriveOfPair(report);
  } else if (!report.is_replaytv) {
    report.problems.push_back("partitions 1 and 2 are not recorder partitions (type 0x4d)");
  } else {
    InspectRecorderDisk(drive, second_path, report);
  }
  report.verified = report.problems.empty();
  return report;
}

namespace {

std::string RenderVolumeSequence(const InspectedVolumeSequence& vs) {
  const char* what = vs.position == 1   ? "first drive of a two-drive system"
                     : vs.position == 2 ? "second drive of a two-drive system"
                                        : "not part of a two-drive system";
  std::string text = Format("Volume sequence block (sector 1): %s, magic 0x%08x\n", what, vs.magic);
  if (vs.position != 0) {
    text +=
        Format("  drive_index %" PRIu64 ", drive_count %u, space_offset %" PRIu64
               ", drive_offset %" PRIu64 ", drive_bytes %" PRIu64 "\n",
               vs.drive_index, vs.drive_count, vs.space_offset, vs.drive_offset, vs.drive_bytes);
  }
  return text;
}

std::string RenderBlock(const InspectedBlock& block) {
  std::string name = block.name;
  name.resize(std::max<size_t>(name.size(), 18), ' ');
  if (!block.readable) {
    return Format("  %s clusters %" PRIu64 "/%" PRIu64 ": cannot be read\n", name.c_str(),
                  block.cluster, block.cluster + 1);
  }
  return Format("  %s clusters %" PRIu64 "/%" PRIu64 ": CRC 0x%04x %s, XOR 0x%02x %s, copy %s\n",
                name.c_str(), block.cluster, block.cluster + 1, block.crc,
                block.crc_ok ? "ok" : "WRONG", block.xor_byte, block.xor_ok ? "ok" : "WRONG",
                block.copy_identical ? "identical" : "DIFFERS");
}

std::string RenderFileSystem(const char* title, const InspectedFileSystem& fs) {
  if (!fs.present)
    return Format("%s: none\n", title);
  std::string text = Format("%s (%s, sector %" PRIu64 ", %" PRIu64 " sectors):\n", title,
                            fs.where.c_str(), fs.start_sector, fs.length_sectors);
  if (!fs.system_block_ok)
    return text + "  no file system found\n";
  text += Format("  label '%s', cluster size %u bytes, %" PRIu64
                 " clusters, root directory at "
                 "cluster %" PRIu64 "\n",
                 fs.label.c_str(), fs.cluster_size, fs.cluster_count, fs.root_cluster);
  for (const InspectedBlock& block : fs.blocks)
    text += RenderBlock(block);
  return text;
}

}  // namespace

std::string RenderInspection(const InspectionReport& report) {
  std::string text = Format("Drive %s: %" PRIu64 " sectors (%" PRIu64 " GB)\n",
                            ShownPath(report.device_path).c_str(), report.size_sectors,
                            report.size_sectors / kSectorsPerGb);
  if (report.readable) {
    text += Format("Byte order: %s\n", report.rtv4000 ? "RTV4000" : "standard");
    text += Format("Partition block (sector 0): signature 55 AA %s\n",
                   report.signature_ok ? "present" : "MISSING");
    for (size_t i = 0; i < report.entries.size(); ++i) {
      const PartitionEntry& entry = report.entries[i];
      text += Format("  %zu: type 0x%02x  start %10u  length %10u\n", i + 1, entry.type,
                     entry.start, entry.length);
    }
    text += RenderVolumeSequence(report.volume_sequence);
    text += RenderFileSystem("MPEG file system", report.mpeg);
    text += RenderFileSystem("Photo file system", report.photo);
  }
  if (report.problems.empty()) {
    text += "Problems: none\n";
  } else {
    text += "Problems:\n";
    for (const std::string& problem : report.problems)
      text += "  " + problem + "\n";
  }
  text += report.verified ? "Verified: yes\n" : "Verified: no\n";
  return text;
}

}  // namespace quillmar
