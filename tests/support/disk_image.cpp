#include "tests/support/disk_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "format/formatter.h"
#include "format/partition_block.h"
#include "format/volume_sequence.h"
#include "tests/support/raw_file.h"

namespace quillmar::testing {
namespace {

using ::testing::AssertionFailure;
using ::testing::AssertionResult;
using ::testing::AssertionSuccess;

constexpr uint64_t kChunkSectors = 2048;  // 1 MiB per transfer while filling patterns

// ---- patterns ----

const char* PatternTag(Pattern pattern) {
  return pattern == Pattern::kSystem ? "QSYSPART" : "QRECORD!";
}

uint64_t NextXorshift(uint64_t& state) {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
}

// ---- external tools ----

std::string FindTool(const std::string& name) {
  std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  path += ":/usr/sbin:/sbin:/usr/bin:/bin";
  std::stringstream dirs(path);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty())
      continue;
    std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return "";
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// Runs a shell command with its output in output; true when it exited with 0.
bool RunCommand(const std::string& command, std::string* output) {
  std::string full = command + " 2>&1";
  FILE* pipe = ::popen(full.c_str(), "r");
  if (pipe == nullptr)
    return false;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
    *output += buffer;
  int status = ::pclose(pipe);
  return status == 0;
}

// ---- recorder disks ----

// Bytes 0..445 of the partition block, which no rewrite may change, get a recognisable pattern;
// each entry's uninterpreted bytes 0-3 and 5-7 get fixed non-zero values.
constexpr uint8_t kEntryFiller[8] = {0x80, 0x01, 0x02, 0x03, 0x00, 0xFE, 0xFF, 0xFF};

Sector BuildReplayTvPartitionBlock(const ReplayTvDisk& disk, const ReplayTvGeometry& g) {
  Sector block{};
  for (size_t i = 0; i < 446; ++i)
    block[i] = static_cast<uint8_t>(i * 7 + 3);
  auto put = [&](int n, uint8_t type, uint32_t start, uint32_t length) {
    size_t at = PartitionEntryOffset(n);
    std::copy(std::begin(kEntryFiller), std::end(kEntryFiller), block.begin() + at);
    WritePartitionEntry(block, n, {type, start, length});
  };
  put(1, kRecorderPartitionType, 2, disk.p1_length);
  put(2, kRecorderPartitionType, g.p2_start, g.p2_length);
  if (g.p3_length != 0)
    put(3, kRecorderPartitionType, g.p3_start, g.p3_length);
  block[510] = 0x55;
  block[511] = 0xAA;
  return block;
}

AssertionResult WriteSectorInOrder(const std::string& path, uint64_t sector, Sector block,
                                   bool rtv4000) {
  if (rtv4000)
    Rtv4000Byteswap(block);
  return WriteSectors(path, sector, block);
}

AssertionResult FillPattern(const std::string& path, uint64_t first, uint64_t count,
                            Pattern pattern) {
  RawFile file(path, O_WRONLY);
  if (!file.ok())
    return AssertionFailure() << Errno("cannot open", path);
  std::vector<uint8_t> chunk;
  for (uint64_t at = first; at < first + count; at += kChunkSectors) {
    uint64_t n = std::min(kChunkSectors, first + count - at);
    chunk.resize(n * kBlockSize);
    for (uint64_t s = 0; s < n; ++s) {
      Sector sector = PatternSector(pattern, at + s);
      std::copy(sector.begin(), sector.end(),
                chunk.begin() + static_cast<ptrdiff_t>(s * kBlockSize));
    }
    if (!file.WriteAt(at * kBlockSize, chunk.data(), chunk.size())) {
      return AssertionFailure() << Errno("cannot write", path);
    }
  }
  return AssertionSuccess();
}

uint64_t ClusterCount(uint32_t length, uint32_t cluster_size) {
  uint32_t sectors_per_cluster = cluster_size / static_cast<uint32_t>(kBlockSize);
  return sectors_per_cluster == 0 ? 0 : length / sectors_per_cluster;
}

AssertionResult FormatMpeg(const std::string& path, const ReplayTvDisk& disk,
                           const ReplayTvGeometry& g) {
  if (disk.mpeg_cluster_size == 0)
    return AssertionSuccess();
  if (FormatPartition(path, static_cast<uint64_t>(g.p2_start) * kBlockSize, disk.rtv4000,
                      disk.mpeg_cluster_size, g.mpeg_cluster_count, "mpeg", {}) != 0) {
    return AssertionFailure() << "formatting the MPEG partition of " << path << " failed";
  }
  return AssertionSuccess();
}

AssertionResult FormatPhoto(const std::string& path, uint64_t sector, const ReplayTvDisk& disk,
                            const ReplayTvGeometry& g) {
  if (g.p3_length == 0 || disk.photo_cluster_size == 0)
    return AssertionSuccess();
  if (FormatPartition(path, sector * kBlockSize, disk.rtv4000, disk.photo_cluster_size,
                      g.photo_cluster_count, "storage", {"tmp", "Photo"}) != 0) {
    return AssertionFailure() << "formatting the Photo partition of " << path << " failed";
  }
  return AssertionSuccess();
}

AssertionResult CheckLayout(const ReplayTvDisk& disk, uint64_t layout) {
  if (layout > 0xFFFFFFFFull)
    return AssertionFailure() << "layout beyond 32-bit sectors";
  if (static_cast<uint64_t>(disk.p1_length) + 2 + disk.photo_sectors >= layout) {
    return AssertionFailure() << "no room for partition 2 in " << layout << " sectors";
  }
  return AssertionSuccess();
}

// Everything of drive 1 except sector 1 and the Photo file system.
AssertionResult WriteFirstDrive(const std::string& path, const ReplayTvDisk& disk,
                                const ReplayTvGeometry& g) {
  if (AssertionResult r = MakeBlankImage(path, disk.disk_sectors); !r)
    return r;
  Sector sector0 = BuildReplayTvPartitionBlock(disk, g);
  if (AssertionResult r = WriteSectorInOrder(path, 0, sector0, disk.rtv4000); !r)
    return r;
  uint64_t system = std::min<uint64_t>(disk.p1_length, disk.disk_sectors - 2);
  if (AssertionResult r = FillPattern(path, 2, system, Pattern::kSystem); !r)
    return r;
  return FormatMpeg(path, disk, g);
}

AssertionResult WriteRecordings(const std::string& path, const ReplayTvDisk& disk) {
  for (const SectorRun& run : disk.recordings) {
    if (AssertionResult r = FillPattern(path, run.first, run.count, Pattern::kRecording); !r) {
      return r;
    }
  }
  return AssertionSuccess();
}

}  // namespace

// ---- blank disks ----

AssertionResult MakeBlankImage(const std::string& path, uint64_t sectors) {
  RawFile file(path, O_WRONLY | O_CREAT | O_TRUNC);
  if (!file.ok())
    return AssertionFailure() << Errno("cannot create", path);
  if (::ftruncate(file.fd(), static_cast<off_t>(sectors * kBlockSize)) != 0) {
    return AssertionFailure() << Errno("cannot size", path);
  }
  return AssertionSuccess();
}

// ---- patterns ----

Sector PatternSector(Pattern pattern, uint64_t key) {
  Sector sector{};
  const char* tag = PatternTag(pattern);
  std::copy_n(tag, 8, sector.begin());
  for (size_t i = 0; i < 8; ++i)
    sector[8 + i] = static_cast<uint8_t>(key >> (8 * i));
  uint64_t state = (key + 1) * 0x9E3779B97F4A7C15ull ^ (pattern == Pattern::kSystem ? 0x5A : 0xA5);
  for (size_t i = 16; i < kBlockSize; i += 8) {
    uint64_t v = NextXorshift(state);
    for (size_t j = 0; j < 8; ++j)
      sector[i + j] = static_cast<uint8_t>(v >> (8 * j));
  }
  return sector;
}

AssertionResult HasPattern(const std::string& path, uint64_t first, uint64_t count, Pattern pattern,
                           uint64_t first_key) {
  for (uint64_t at = 0; at < count; at += kChunkSectors) {
    uint64_t n = std::min(kChunkSectors, count - at);
    std::vector<uint8_t> data = ReadSectors(path, first + at, n);
    for (uint64_t s = 0; s < n; ++s) {
      Sector want = PatternSector(pattern, first_key + at + s);
      std::span<const uint8_t> got(data.data() + s * kBlockSize, kBlockSize);
      AssertionResult same = BytesEqual(want, got);
      if (!same) {
        return AssertionFailure() << "sector " << first + at + s << " of " << path << " is not the "
                                  << PatternTag(pattern) << " pattern sector " << first_key + at + s
                                  << ": " << same.message();
      }
    }
  }
  return AssertionSuccess();
}

// ---- recorder disks ----

ReplayTvGeometry Geometry(const ReplayTvDisk& disk) {
  uint64_t layout = disk.layout_sectors != 0 ? disk.layout_sectors : disk.disk_sectors;
  ReplayTvGeometry g;
  g.p2_start = disk.p1_length + 2;
  g.p3_length = disk.photo_sectors;
  g.p3_start = disk.photo_sectors != 0 ? static_cast<uint32_t>(layout - disk.photo_sectors) : 0;
  g.p2_length = static_cast<uint32_t>(layout - g.p2_start - disk.photo_sectors);
  g.mpeg_cluster_count = ClusterCount(g.p2_length, disk.mpeg_cluster_size);
  g.photo_cluster_count = ClusterCount(g.p3_length, disk.photo_cluster_size);
  return g;
}

AssertionResult MakeReplayTvDisk(const std::string& path, const ReplayTvDisk& disk) {
  uint64_t layout = disk.layout_sectors != 0 ? disk.layout_sectors : disk.disk_sectors;
  if (AssertionResult r = CheckLayout(disk, layout); !r)
    return r;
  ReplayTvGeometry g = Geometry(disk);
  if (AssertionResult r = WriteFirstDrive(path, disk, g); !r)
    return r;
  if (disk.stale_pair_block) {
    Sector block = BuildVolumeSequenceBlock(0, static_cast<uint32_t>(disk.disk_sectors),
                                            static_cast<uint32_t>(disk.disk_sectors));
    if (AssertionResult r = WriteSectorInOrder(path, 1, block, disk.rtv4000); !r)
      return r;
  }
  if (AssertionResult r = FormatPhoto(path, g.p3_start, disk, g); !r)
    return r;
  return WriteRecordings(path, disk);
}

AssertionResult MakeReplayTvPair(const std::string& path1, const std::string& path2,
                                 const ReplayTvDisk& first, uint64_t second_sectors) {
  uint64_t s1 = first.disk_sectors;
  ReplayTvDisk disk = first;
  if (disk.layout_sectors == 0)
    disk.layout_sectors = s1 + second_sectors - 2;
  if (AssertionResult r = CheckLayout(disk, disk.layout_sectors); !r)
    return r;
  ReplayTvGeometry g = Geometry(disk);
  if (g.p3_length != 0 && g.p3_start < s1) {
    return AssertionFailure() << "the Photo partition would begin on drive 1";
  }
  if (disk.mpeg_cluster_size != 0 && g.p2_start + 5ull * disk.mpeg_cluster_size / kBlockSize > s1) {
    return AssertionFailure() << "the MPEG file system does not fit on drive 1";
  }
  auto s1_32 = static_cast<uint32_t>(s1);
  auto s2_32 = static_cast<uint32_t>(second_sectors);

  if (AssertionResult r = WriteFirstDrive(path1, disk, g); !r)
    return r;
  if (AssertionResult r =
          WriteSectorInOrder(path1, 1, BuildVolumeSequenceBlock(0, s1_32, s2_32), disk.rtv4000);
      !r) {
    return r;
  }
  if (AssertionResult r = WriteRecordings(path1, disk); !r)
    return r;

  if (AssertionResult r = MakeBlankImage(path2, second_sectors); !r)
    return r;
  if (AssertionResult r = WriteSectorInOrder(path2, 0, EmptyPartitionBlock(), disk.rtv4000); !r) {
    return r;
  }
  if (AssertionResult r =
          WriteSectorInOrder(path2, 1, BuildVolumeSequenceBlock(1, s1_32, s2_32), disk.rtv4000);
      !r) {
    return r;
  }
  return FormatPhoto(path2, g.p3_start - s1 + 2, disk, g);
}

// ---- PC disks ----

bool HaveTool(const std::string& name) {
  return !FindTool(name).empty();
}

AssertionResult MakePcDisk(const std::string& path, uint64_t sectors, PcDisk kind) {
  constexpr uint64_t kFirst = 2048;
  sectors = std::max<uint64_t>(sectors, 8192);
  if (AssertionResult r = MakeBlankImage(path, sectors); !r)
    return r;
  uint64_t size = std::min<uint64_t>(sectors - kFirst, 0xFFFFFFFFull - kFirst);
  std::string output;

  if (kind == PcDisk::kGpt) {
    std::string sgdisk = FindTool("sgdisk");
    if (sgdisk.empty())
      return AssertionFailure() << "sgdisk is not installed";
    std::string command = Quote(sgdisk) + " -o -U 51554c4c-4d41-5200-0000-000000000001" +
                          " -n 1:2048:0 -t 1:8300 -u 1:51554c4c-4d41-5200-0000-000000000002 " +
                          Quote(path);
    if (!RunCommand(command, &output))
      return AssertionFailure() << "sgdisk failed: " << output;
    return AssertionSuccess();
  }

  int entry = kind == PcDisk::kFat32SecondEntry ? 2 : 1;
  uint8_t type = kind == PcDisk::kNtfs ? 0x07 : kind == PcDisk::kLinux ? 0x83 : 0x0B;
  std::string sfdisk = FindTool("sfdisk");
  if (!sfdisk.empty()) {
    char line[160];
    std::snprintf(line, sizeof line, "%s%d : start=%llu, size=%llu, type=%x\n", path.c_str(), entry,
                  static_cast<unsigned long long>(kFirst), static_cast<unsigned long long>(size),
                  type);
    std::string script = path + ".sfdisk";
    std::ofstream(script) << "label: dos\nlabel-id: 0x51554c4c\nunit: sectors\n\n" << line;
    bool ran = RunCommand(Quote(sfdisk) + " -q " + Quote(path) + " < " + Quote(script), &output);
    std::remove(script.c_str());
    if (!ran)
      return AssertionFailure() << "sfdisk failed: " << output;
  } else {
    Sector mbr{};
    WritePartitionEntry(mbr, entry,
                        {type, static_cast<uint32_t>(kFirst), static_cast<uint32_t>(size)});
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    if (AssertionResult r = WriteSectors(path, 0, mbr); !r)
      return r;
  }
  // Whatever wrote it, the entry must be where the classification will look.
  std::vector<uint8_t> sector0 = ReadSectors(path, 0, 1);
  PartitionEntry got = ReadPartitionEntry(sector0, entry);
  if (got.type != type || got.start != kFirst) {
    return AssertionFailure() << "entry " << entry << " of " << path << " is not as asked";
  }
  return AssertionSuccess();
}

}  // namespace quillmar::testing
