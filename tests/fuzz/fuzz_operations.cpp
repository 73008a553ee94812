// Every disk operation over arbitrary drives, answered Yes throughout: sectors 0 and 1 of two
// image drives come from the input, their MPEG and Photo file systems are formatted where their
// partition blocks say (when the input asks), and every other sector (of the backup image too)
// comes from the input when first read. The property: an operation either finishes, with every
// write inside its plan and the drive it patched verified by the inspector, or it refuses with
// every drive byte-identical; no drive ever grows. The plan is what the operation may write:
//   mirror     the target's sectors 0 .. partition 1 length + 10,241
//   copy MPEG  the target from the source's partition 2 start on, provided that start lies after
//              the source's system partition and, on a recorder target, is the target's own
//   copy Photo the last partition 3 length sectors of the target, behind its system partition
//   patch/join sectors 0 and 1 and partitions 2 and 3 as the new partition block records them
//   backup     the backup file's first partition 1 length + 10,242 sectors
//   restore    the target's first image-length sectors, and its partition 2 (the reset)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "base/log.h"
#include "drives/classify.h"
#include "format/formatter.h"
#include "format/fs_blocks.h"
#include "format/partition_block.h"
#include "ops/inspector.h"
#include "ops/operations.h"
#include "ops/photo_sizes.h"
#include "tests/fuzz/fuzz_support.h"

using namespace quillmar;
using namespace quillmar::fuzzing;

namespace {

// Small drives keep a run fast; every layout question arises at any size.
constexpr uint32_t kMaxSectors = 40000;
constexpr uint64_t kSystemAreaExtra = 2 + 10240;
constexpr const char* kPaths[] = {"drive0", "drive1"};
constexpr const char* kImage = "/nonexistent-quillmar-fuzz/backup.rtv";

enum Operation { kMirror, kCopyMpeg, kCopyPhoto, kPatch, kJoin, kBackup, kRestore, kCount };

// Answers Yes to everything and chooses the backup image as the file.
class YesFrontEnd final : public FrontEnd {
 public:
  void AddLogLine(const std::string&) override {}
  void ShowMessage(const std::string&, const std::string&) override {}
  int AskYesNo(const std::string&, const std::string&) override { return kIdYes; }
  int AskWindowYesNo(const std::string&, const std::string&) override { return kIdYes; }
  void ProgressShow() override {}
  void ProgressSetPos(int) override {}
  void ProgressHide() override {}
  void DrainEvents() override {}
  bool ChooseFile(const FileChoiceRequest&, std::string* path) override {
    *path = kImage;
    return true;
  }
};

struct Setup {
  Operation operation;
  bool format;  // file systems where the partition blocks say
  uint32_t cluster_size;
  bool photo_same_drive;
  uint32_t photo_request;
  uint64_t sectors[2];
  uint64_t image_sectors;
};

Setup ReadSetup(InputStream& input) {
  Setup s{};
  s.operation = static_cast<Operation>(input.Byte() % kCount);
  uint8_t flags = input.Byte();
  s.format = flags & 1;
  s.photo_same_drive = flags & 2;
  s.cluster_size = 1024u << (flags >> 4) % 9;
  s.photo_request = kPhotoSizeSectors[input.Byte() % 6].sectors;
  for (uint64_t& n : s.sectors)
    n = input.U32() % kMaxSectors;
  s.image_sectors = input.U32() % kMaxSectors;
  return s;
}

// Sector 0 in standard order and whether the disk is in RTV4000 order.
Sector StandardSector0(MemoryDrive& drive, bool* rtv4000 = nullptr) {
  Sector s0{};
  drive.Read(0, s0.data(), s0.size());
  bool swapped = IsRtv4000Disk(s0);
  if (swapped)
    Rtv4000Byteswap(s0);
  if (rtv4000 != nullptr)
    *rtv4000 = swapped;
  return s0;
}

// The recorder file systems of a drive where its partition block places them, when they fit.
void FormatFileSystems(const std::string& path, MemoryDrive& drive, uint32_t cluster_size) {
  bool rtv4000 = false;
  Sector s0 = StandardSector0(drive, &rtv4000);
  struct Fs {
    int entry;
    uint32_t cluster;
    const char* label;
    std::vector<std::string> dirs;
  };
  for (const Fs& fs : {Fs{2, cluster_size, "mpeg", {}}, Fs{3, 8192, "storage", {"tmp", "Photo"}}}) {
    PartitionEntry e = ReadPartitionEntry(s0, fs.entry);
    uint64_t per_cluster = fs.cluster / kBlockSize;
    uint64_t end = uint64_t{e.start} + e.length;
    if (e.start >= 2 && end * kBlockSize <= drive.size() && e.length >= 9 * per_cluster) {
      FormatPartition(path, uint64_t{e.start} * kBlockSize, rtv4000, fs.cluster,
                      e.length / per_cluster, fs.label, fs.dirs);
    }
  }
}

// Partitions 2 and 3 of the joined space as they lie on one drive of a pair (first_sectors 0:
// a single drive), from the partition block now on the first drive.
void AddPartitions(MemoryDrive& first, uint64_t first_sectors, bool on_second,
                   std::vector<SectorRange>& ranges) {
  Sector s0 = StandardSector0(first);
  for (int n : {2, 3}) {
    PartitionEntry e = ReadPartitionEntry(s0, n);
    uint64_t from = e.start;
    uint64_t end = from + e.length;
    if (!on_second) {
      ranges.push_back({from, first_sectors == 0 ? end : std::min(end, first_sectors)});
    } else if (end > first_sectors) {
      uint64_t at = std::max(from, first_sectors);
      ranges.push_back({at - first_sectors + 2, end - first_sectors + 2});
    }
  }
}

using Plan = std::map<std::string, std::vector<SectorRange>>;

// What the operation may write, from the drives as classified before it ran.
Plan PlanBefore(const Setup& s) {
  const DriveInfo& a = DriveTable[0];
  const DriveInfo& b = DriveTable[1];
  Plan plan;
  switch (s.operation) {
    case kMirror:
      plan["drive1"].push_back({0, a.p1_length + kSystemAreaExtra});
      break;
    case kCopyMpeg:
      if (a.p2_start >= uint64_t{a.p1_length} + 2 && (!b.is_replaytv || b.p2_start == a.p2_start))
        plan["drive1"].push_back({a.p2_start, b.size_sectors});
      break;
    case kCopyPhoto: {
      const DriveInfo& target = s.photo_same_drive ? a : b;
      uint64_t system_end = target.is_replaytv ? uint64_t{target.p1_length} + 2 : 2;
      if (uint64_t{a.p3_length} + system_end <= target.size_sectors) {
        plan[target.device_path].push_back(
            {target.size_sectors - a.p3_length, target.size_sectors});
      }
      break;
    }
    case kBackup:
      plan[kImage].push_back({0, a.p1_length + kSystemAreaExtra});
      break;
    case kRestore:
      plan["drive1"].push_back({0, s.image_sectors});
      break;
    default:
      break;
  }
  return plan;
}

// Completes the plan of the operations whose ranges follow from what they wrote to sector 0.
void PlanAfter(const Setup& s, MemoryDeviceIo& io, Plan& plan) {
  MemoryDrive& first = io.Drive(s.operation == kJoin ? "drive0" : "drive1");
  if (s.operation == kPatch) {
    plan["drive1"].push_back({0, 2});
    AddPartitions(first, 0, false, plan["drive1"]);
  } else if (s.operation == kRestore) {
    // The reset finds the root directory through the restored superblock alone.
    plan["drive1"].push_back({ReadPartitionEntry(StandardSector0(first), 2).start, s.sectors[1]});
  } else if (s.operation == kJoin) {
    plan["drive0"].push_back({0, 2});
    plan["drive1"].push_back({0, 2});
    AddPartitions(first, s.sectors[0], false, plan["drive0"]);
    AddPartitions(first, s.sectors[0], true, plan["drive1"]);
  }
}

void CheckWrites(const MemoryDeviceIo& io, const Plan& plan) {
  for (const WriteRecord& write : io.writes()) {
    if (write.path != kImage) {
      Require(write.offset + write.length <= io.Size(write.path), "a write past a drive's end");
    }
    auto found = plan.find(write.path);
    Require(found != plan.end() && InsideRanges(write.offset, write.length, found->second),
            "a write outside the operation's plan");
  }
}

// A finished patch or join of a recorder disk leaves it verified by the inspector.
void CheckPatchedDisk(const Setup& s, bool was_recorder) {
  if (!was_recorder || (s.operation != kPatch && s.operation != kJoin))
    return;
  InspectionReport report =
      s.operation == kPatch ? InspectDrive("drive1") : InspectDrive("drive0", "drive1");
  if (!report.verified)
    std::fprintf(stderr, "%s", RenderInspection(report).c_str());
  Require(report.verified, "a patched disk does not verify");
}

// A verified report never places a structure beyond what the drive holds.
void CheckInspection(const std::string& path, uint64_t sectors) {
  InspectionReport report = InspectDrive(path);
  if (!report.verified)
    return;
  const InspectedVolumeSequence& vs = report.volume_sequence;
  Require(vs.position == 0 || vs.drive_bytes / kBlockSize <= sectors,
          "verified with a volume sequence block larger than the drive");
  for (const InspectedFileSystem* fs : {&report.mpeg, &report.photo}) {
    for (const InspectedBlock& block : fs->blocks)
      Require(block.crc_length >= kSuperCrcLength, "verified with a CRC that covers too little");
  }
}

int Run(const Setup& s) {
  switch (s.operation) {
    case kMirror:
      return MirrorSystemPartition(0, 1);
    case kCopyMpeg:
      return CopyMpegPartition(0, 1);
    case kCopyPhoto:
      return CopyPhotoPartition(0, s.photo_same_drive ? 0 : 1);
    case kPatch:
      return PatchSingleDrive(1, s.photo_request);
    case kJoin:
      return AddSecondDrive(0, 1, s.photo_request);
    case kBackup:
      return BackupSourceDrive(0, nullptr);
    default:
      return RestoreTargetDrive(1, nullptr);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputStream input({data, size});
  Setup s = ReadSetup(input);
  MemoryDeviceIo io;
  for (size_t i = 0; i < 2; ++i) {
    MemoryDrive& drive = io.Add(kPaths[i], s.sectors[i] * kBlockSize, &input);
    for (uint64_t sector : {0, 1}) {
      Sector bytes{};
      input.Take(bytes);
      drive.Preset(sector, bytes);
    }
  }
  io.Add(kImage, s.operation == kRestore ? s.image_sectors * kBlockSize : uint64_t{1} << 40,
         &input);
  if (s.format) {
    for (const char* path : kPaths)
      FormatFileSystems(path, io.Drive(path), s.cluster_size);
  }
  io.ClearWrites();
  YesFrontEnd front_end;
  SetFrontEnd(&front_end);
  ResetDriveTable();
  for (size_t i = 0; i < 2; ++i) {
    DriveTable[i].device_path = kPaths[i];
    DriveTable[i].model = "Fuzz";
    g_detectedSectors[i] = static_cast<uint32_t>(s.sectors[i]);
  }
  g_probePending = false;
  ClassifyDrives();
  bool was_recorder = DriveTable[s.operation == kJoin ? 0 : 1].is_replaytv != 0;
  for (size_t i = 0; i < 2; ++i) {
    Sector raw{};
    io.Drive(kPaths[i]).Read(0, raw.data(), raw.size());
    bool signed_standard = raw[510] == 0x55 && raw[511] == 0xAA;
    Require(DriveTable[i].unreadable || !signed_standard || !IsPcDiskLayout(raw) ||
                DriveTable[i].system_disk,
            "a disk that reads as a PC disk is not flagged as one");
  }
  Plan plan = PlanBefore(s);

  int result = Run(s);

  Require(io.open_descriptors() == 0, "a descriptor stayed open");
  Require(result == 0 || io.writes().empty(), "an operation that did not finish wrote");
  PlanAfter(s, io, plan);
  CheckWrites(io, plan);
  if (result == 0)
    CheckPatchedDisk(s, was_recorder);
  CheckInspection("drive0", s.sectors[0]);
  SetFrontEnd(nullptr);
  ResetDriveTable();
  return 0;
}
