// Every disk operation over arbitrary drives, answered Yes (PatchDisk itself: as the input says):
// sectors 0 and 1 of two image drives come from the input, their MPEG and Photo file systems are
// formatted where their partition blocks say (when the input asks), and every other sector (of the
// backup image too) comes from the input when first read. The property: an operation either
// finishes, with every write inside what it may write (PlanBefore, PlanAfter) and the drive it
// patched verified by the inspector, or it refuses with every drive byte-identical; no drive ever
// grows. Every drive classified gets flags of 0 or 1 and, when readable, the size it was given.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "base/settings.h"
#include "drives/classify.h"
#include "format/formatter.h"
#include "format/fs_blocks.h"
#include "format/mpeg_reset.h"
#include "format/partition_block.h"
#include "ops/inspector.h"
#include "ops/operations.h"
#include "ops/photo_sizes.h"
#include "tests/support/fake_device.h"
#include "tests/support/scripted_front_end.h"

using namespace quillmar;
using quillmar::testing::FakeDevice;
using quillmar::testing::FakeDeviceIo;
using quillmar::testing::ScriptedFrontEnd;
using quillmar::testing::WriteCall;

namespace {

// The fuzzer's bytes, handed out front to back; zeros once they are used up.
class InputStream {
 public:
  explicit InputStream(std::span<const uint8_t> data) : data_(data) {}
  void Take(std::span<uint8_t> out) {
    size_t n = std::min(out.size(), data_.size() - used_);
    std::memcpy(out.data(), data_.data() + used_, n);
    std::memset(out.data() + n, 0, out.size() - n);
    used_ += n;
  }
  uint8_t Byte() {
    uint8_t b = 0;
    Take({&b, 1});
    return b;
  }
  uint32_t U32() {
    uint8_t b[4];
    Take(b);
    return GetLe32(b, 0);
  }
  bool used_up() const { return used_ == data_.size(); }

 private:
  std::span<const uint8_t> data_;
  size_t used_ = 0;
};

// A drive of size bytes whose first `presets` sectors are taken from the input now and every
// other sector when first read (zero for good once the input is used up).
FakeDevice& AddInputDrive(FakeDeviceIo& io, const std::string& path, uint64_t size,
                          InputStream& input, size_t presets = 0) {
  std::vector<Sector> preset(presets);
  for (Sector& sector : preset)
    input.Take(sector);
  FakeDevice& drive = io.Add(path, 0);
  drive.Sparse(size, [&input, preset](uint64_t n, Sector& sector) {
    if (n < preset.size()) {
      sector = preset[n];
      return true;
    }
    if (input.used_up())
      return false;
    input.Take(sector);
    return true;
  });
  return drive;
}

// Stops the process (a fuzzer finding) with the message when the condition does not hold.
void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
  }
}

struct SectorRange {
  uint64_t first;
  uint64_t end;
};
// The write lies inside one of the sector ranges [first, end).
bool Inside(const WriteCall& write, std::span<const SectorRange> ranges) {
  return std::any_of(ranges.begin(), ranges.end(), [&](const SectorRange& range) {
    return write.offset >= range.first * kBlockSize &&
           write.offset + write.length <= range.end * kBlockSize;
  });
}

// Sector 0 of the drive in standard order, when order says the stored one is not.
Sector StandardSector0(FakeDevice& drive, bool (*order)(std::span<const uint8_t>)) {
  Sector sector0 = drive.Peek(0);
  if (order(sector0))
    Rtv4000Byteswap(sector0);
  return sector0;
}

// The sectors of partitions 2 and 3 (sector0 in standard order) on the first drive, of
// first_sectors, or on the second, where joined sector L is sector L - first_sectors + 2.
std::vector<SectorRange> PartitionRanges(const Sector& sector0, uint64_t first_sectors,
                                         bool on_second) {
  std::vector<SectorRange> ranges;
  for (int n : {2, 3}) {
    PartitionEntry entry = ReadPartitionEntry(sector0, n);
    uint64_t end = uint64_t{entry.start} + entry.length;
    if (!on_second) {
      ranges.push_back({entry.start, std::min(end, first_sectors)});
    } else if (end > first_sectors) {
      uint64_t from = std::max<uint64_t>(entry.start, first_sectors);
      ranges.push_back({from - first_sectors + 2, end - first_sectors + 2});
    }
  }
  return ranges;
}

constexpr uint32_t kMaxSectors = 40000;  // small drives keep a run fast
constexpr uint64_t kSystemAreaExtra = 2 + 10240;
constexpr const char* kPaths[] = {"drive0", "drive1"};
constexpr const char* kImage = "/nonexistent-quillmar-fuzz/backup.rtv";

enum Op { kMirror, kMpeg, kPhoto, kPatch, kJoin, kBackup, kRestore, kReset, kClassify, kPatchDisk };

struct Setup {
  Op operation;
  bool format;  // file systems where the partition blocks say
  bool photo_same_drive;
  bool second_drive;  // PatchDisk on two drives
  uint32_t cluster_size;
  int32_t cluster_override;
  uint32_t photo_request;
  uint64_t sectors[2];  // the drives' sizes as detected
  uint64_t bytes[2];    // and as their files hold them
  uint64_t image_sectors;
};

Setup ReadSetup(InputStream& input) {
  Setup s{};
  s.operation = static_cast<Op>(input.Byte() % (kPatchDisk + 1));
  uint8_t flags = input.Byte();
  s.format = flags & 1;
  s.photo_same_drive = flags & 2;
  s.second_drive = flags & 4;
  s.cluster_size = 1024u << (flags >> 4) % 9;
  s.photo_request = kPhotoSizeSectors[input.Byte() % 6].sectors;
  for (uint64_t& n : s.sectors)  // the last three operations meet drives of any size
    n = s.operation < kReset ? input.U32() % kMaxSectors : input.U32();
  s.image_sectors = input.U32() % kMaxSectors;
  if (s.operation == kPatchDisk) {
    s.sectors[1] = s.second_drive ? s.sectors[1] : 0;
    s.photo_request = input.U32();
    s.cluster_override = static_cast<int32_t>(input.U32());
  }
  for (size_t i = 0; i < 2; ++i)
    s.bytes[i] = s.sectors[i] * kBlockSize;
  if (s.operation == kClassify && !(flags & 4))
    s.bytes[0] = input.U32() % 2048;
  return s;
}

// The recorder file systems of a drive where its partition block places them, when they fit.
void FormatFileSystems(const std::string& path, FakeDevice& drive, uint64_t sectors,
                       uint32_t cluster_size) {
  bool rtv4000 = IsRtv4000Disk(drive.Peek(0));
  Sector s0 = StandardSector0(drive, IsRtv4000Disk);
  for (int n : {2, 3}) {
    uint32_t cluster = n == 2 ? cluster_size : 8192;
    PartitionEntry e = ReadPartitionEntry(s0, n);
    uint64_t per_cluster = cluster / kBlockSize;
    if (e.start >= 2 && uint64_t{e.start} + e.length <= sectors && e.length >= 9 * per_cluster) {
      FormatPartition(
          path, uint64_t{e.start} * kBlockSize, rtv4000, cluster, e.length / per_cluster,
          n == 2 ? "mpeg" : "storage",
          n == 2 ? std::vector<std::string>{} : std::vector<std::string>{"tmp", "Photo"});
    }
  }
}

using Plan = std::map<std::string, std::vector<SectorRange>>;

// What the operation may write, from the drives as classified before it ran.
Plan PlanBefore(const Setup& s) {
  const DriveInfo& a = DriveTable[0];
  const DriveInfo& b = DriveTable[1];
  const DriveInfo& photo_target = s.photo_same_drive ? a : b;
  uint64_t photo_system_end = photo_target.is_replaytv ? uint64_t{photo_target.p1_length} + 2 : 2;
  Plan plan;
  if (s.operation == kMirror)
    plan["drive1"].push_back({0, a.p1_length + kSystemAreaExtra});
  if (s.operation == kMpeg && a.p2_start >= uint64_t{a.p1_length} + 2 &&
      (!b.is_replaytv || b.p2_start == a.p2_start))
    plan["drive1"].push_back({a.p2_start, b.size_sectors});
  if (s.operation == kPhoto &&
      uint64_t{a.p3_length} + photo_system_end <= photo_target.size_sectors)
    plan[photo_target.device_path].push_back(
        {photo_target.size_sectors - a.p3_length, photo_target.size_sectors});
  if (s.operation == kBackup)
    plan[kImage].push_back({0, a.p1_length + kSystemAreaExtra});
  if (s.operation == kRestore)
    plan["drive1"].push_back({0, s.image_sectors});
  return plan;
}

// Completes the plan of the operations whose ranges follow from what they wrote to sector 0.
void PlanAfter(const Setup& s, FakeDevice& first, Plan& plan) {
  // The patch and the reset take sector 0's order from its signature alone.
  Sector s0 = StandardSector0(first, s.operation >= kReset ? IsRtv4000Order : IsRtv4000Disk);
  if (s.operation == kPatch) {
    plan["drive1"] = PartitionRanges(s0, UINT64_MAX, false);
    plan["drive1"].push_back({0, 2});
  } else if (s.operation == kRestore || s.operation == kReset) {
    // The reset finds the root directory through the (restored) superblock alone.
    plan["drive1"].push_back({ReadPartitionEntry(s0, 2).start, s.sectors[1]});
  } else if (s.operation == kJoin || s.operation == kPatchDisk) {
    bool join = s.operation == kJoin;
    plan["drive0"] = PartitionRanges(s0, s.sectors[0], false);
    plan["drive0"].push_back({0, join || s.sectors[1] == 0 ? 2u : 1u});
    if (join || s.second_drive)
      plan["drive1"] = PartitionRanges(s0, s.sectors[0], true);
    if (join)
      plan["drive1"].push_back({0, 2});
  }
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

// What each operation runs, in the order of Op.
int (*const kRun[])(const Setup&) = {
    [](const Setup&) { return MirrorSystemPartition(0, 1); },
    [](const Setup&) { return CopyMpegPartition(0, 1); },
    [](const Setup& s) { return CopyPhotoPartition(0, s.photo_same_drive ? 0 : 1); },
    [](const Setup& s) { return PatchSingleDrive(1, s.photo_request); },
    [](const Setup& s) { return AddSecondDrive(0, 1, s.photo_request); },
    [](const Setup&) { return BackupSourceDrive(0, nullptr); },
    [](const Setup&) { return RestoreTargetDrive(1, nullptr); },
    [](const Setup&) { return ResetMpegPartition("drive1"); },
    [](const Setup&) {
      ClassifyDrives();
      return 0;
    },
    [](const Setup& s) {
      return PatchDisk("drive0", s.second_drive ? "drive1" : "",
                       static_cast<uint32_t>(s.sectors[0]), static_cast<uint32_t>(s.sectors[1]),
                       s.photo_request, s.second_drive ? 2 : 0);
    },
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputStream input({data, size});
  Setup s = ReadSetup(input);
  FakeDeviceIo io;
  std::map<std::string, FakeDevice*> drives;
  for (size_t i = 0; i < 2; ++i)
    drives[kPaths[i]] = &AddInputDrive(io, kPaths[i], s.bytes[i], input, 2);
  uint64_t image_bytes = s.operation == kRestore ? s.image_sectors * kBlockSize : uint64_t{1} << 40;
  drives[kImage] = &AddInputDrive(io, kImage, image_bytes, input);
  ScriptedFrontEnd front_end(false);
  front_end.AnswerWith([&] { return s.operation != kPatchDisk || (input.Byte() & 1) != 0; });
  front_end.ChooseFileAnswer(kImage);
  for (size_t i = 0; s.format && i < 2; ++i)
    FormatFileSystems(kPaths[i], *drives[kPaths[i]], s.bytes[i] / kBlockSize, s.cluster_size);
  for (auto& [path, drive] : drives)
    drive->ClearWrites();
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
    const DriveInfo& d = DriveTable[i];
    Sector raw = drives[kPaths[i]]->Peek(0);
    bool signed_standard = raw[510] == 0x55 && raw[511] == 0xAA;
    Require(d.unreadable || !signed_standard || !IsPcDiskLayout(raw) || d.system_disk,
            "a disk that reads as a PC disk is not flagged as one");
    for (int flag : {d.is_replaytv, d.rtv4000, d.patched, d.system_disk, d.unreadable})
      Require(flag == 0 || flag == 1, "a flag that is neither 0 nor 1");
    Require(d.unreadable || (d.size_sectors == s.sectors[i] && d.dual_position >= 0 &&
                             d.dual_position <= 2 && d.size_gb == d.size_sectors / kSectorsPerGb),
            "a size or drive position out of place");
  }
  Plan plan = PlanBefore(s);
  g_mpegClusterOverride = s.cluster_override;

  int result = kRun[s.operation](s);

  Require(io.open_descriptors() == 0, "a descriptor stayed open");
  PlanAfter(s, *drives[s.operation == kJoin || s.operation == kPatchDisk ? "drive0" : "drive1"],
            plan);
  for (auto& [path, drive] : drives) {
    Require(result == 0 || drive->writes().empty(), "an operation that did not finish wrote");
    for (const WriteCall& write : drive->writes()) {
      Require(path == kImage || write.offset + write.length <= s.bytes[path == "drive1"],
              "a write past a drive's end");
      Require(
          s.operation != kReset || (write.length == kFsBlockSize && drive->writes().size() <= 2),
          "a reset that writes more than the root directory and its copy");
      Require(Inside(write, plan[path]), "a write outside the operation's plan");
    }
  }
  if (result == 0 && was_recorder && (s.operation == kPatch || s.operation == kJoin)) {
    InspectionReport report =
        s.operation == kPatch ? InspectDrive("drive1") : InspectDrive("drive0", "drive1");
    if (!report.verified)
      std::fprintf(stderr, "%s", RenderInspection(report).c_str());
    Require(report.verified, "a patched disk does not verify");
  }
  CheckInspection("drive0", s.bytes[0] / kBlockSize);
  ResetDriveTable();
  ResetSettings();
  return 0;
}
