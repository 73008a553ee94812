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

namespace quillmar::testing {
namespace {

using ::testing::AssertionFailure;
using ::testing::AssertionResult;
using ::testing::AssertionSuccess;

constexpr size_t kHashBlock = 4096;
constexpr uint64_t kChunkSectors = 2048;  // 1 MiB per transfer while filling patterns

// The fixture's own file access, straight to POSIX: it never goes through a test's fake DeviceIo.
class File {
 public:
  File(const std::string& path, int flags) : fd_(::open(path.c_str(), flags | O_CLOEXEC, 0644)) {}
  ~File() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Bytes read (fewer at the end of the file), or -1.
  ssize_t ReadAt(uint64_t offset, uint8_t* buffer, size_t n) const {
    size_t done = 0;
    while (done < n) {
      ssize_t r = ::pread(fd_, buffer + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0 && errno == EINTR)
        continue;
      if (r < 0)
        return -1;
      if (r == 0)
        break;
      done += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(done);
  }
  bool WriteAt(uint64_t offset, const uint8_t* buffer, size_t n) const {
    size_t done = 0;
    while (done < n) {
      ssize_t r = ::pwrite(fd_, buffer + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0 && errno == EINTR)
        continue;
      if (r <= 0)
        return false;
      done += static_cast<size_t>(r);
    }
    return true;
  }

 private:
  int fd_;
};

std::string Errno(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

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

// ---- hex dumps ----

std::string Hex(std::span<const uint8_t> bytes) {
  std::string out;
  char cell[4];
  for (uint8_t b : bytes) {
    std::snprintf(cell, sizeof cell, "%02x ", b);
    out += cell;
  }
  if (!out.empty())
    out.pop_back();
  return out;
}

// One line per run of differing bytes (at most 16 bytes a line, at most max_lines lines);
// returns the number of differing bytes.
size_t DescribeDifferences(std::span<const uint8_t> expected, std::span<const uint8_t> actual,
                           uint64_t base, size_t max_lines, std::ostream& out) {
  size_t common = std::min(expected.size(), actual.size());
  size_t differing = 0;
  size_t lines = 0;
  size_t i = 0;
  while (i < common) {
    if (expected[i] == actual[i]) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < common && end - i < 16 && expected[end] != actual[end])
      ++end;
    differing += end - i;
    if (lines < max_lines) {
      char where[32];
      std::snprintf(where, sizeof where, "  +0x%06llx", static_cast<unsigned long long>(base + i));
      out << where << "  expected " << Hex(expected.subspan(i, end - i)) << "\n"
          << std::string(std::strlen(where), ' ') << "  actual   "
          << Hex(actual.subspan(i, end - i)) << "\n";
    } else if (lines == max_lines) {
      out << "  ...\n";
    }
    ++lines;
    i = end;
  }
  return differing;
}

// ---- extents and hashing ----

struct Extent {
  uint64_t begin;
  uint64_t end;
};

// The data extents of a file (the whole file where holes cannot be asked for).
std::vector<Extent> DataExtents(int fd, uint64_t size) {
  std::vector<Extent> extents;
  uint64_t at = 0;
  while (at < size) {
    off_t data = ::lseek(fd, static_cast<off_t>(at), SEEK_DATA);
    if (data < 0) {
      if (errno == ENXIO)
        break;  // only a hole remains
      extents.push_back({at, size});
      break;
    }
    off_t hole = ::lseek(fd, data, SEEK_HOLE);
    uint64_t end = hole < 0 ? size : std::min<uint64_t>(static_cast<uint64_t>(hole), size);
    extents.push_back({static_cast<uint64_t>(data), end});
    at = end;
  }
  return extents;
}

// Calls visit(offset, block) for every 4 KiB-aligned block of the file's data extents that is not
// all zero, in ascending order. false on a read error.
template <typename Visit>
bool ForEachDataBlock(const File& file, uint64_t size, Visit visit) {
  std::vector<uint8_t> buffer(256 * kHashBlock);
  uint64_t done_to = 0;
  for (const Extent& extent : DataExtents(file.fd(), size)) {
    uint64_t at = std::max(extent.begin / kHashBlock * kHashBlock, done_to);
    while (at < extent.end) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - at));
      n = std::min<size_t>(
          n, static_cast<size_t>((extent.end - at + kHashBlock - 1) / kHashBlock * kHashBlock));
      ssize_t r = file.ReadAt(at, buffer.data(), n);
      if (r < 0)
        return false;
      size_t got = static_cast<size_t>(r);
      for (size_t off = 0; off < got; off += kHashBlock) {
        std::span<const uint8_t> block(buffer.data() + off, std::min(kHashBlock, got - off));
        bool zero = std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0; });
        if (!zero)
          visit(at + off, block);
      }
      if (got == 0)
        break;
      at += got;
    }
    done_to = std::max(done_to, at);
  }
  return true;
}

uint64_t Mix(uint64_t h, uint64_t v) {
  h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
  h *= 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 31);
}

uint64_t HashBlock(uint64_t h, uint64_t offset, std::span<const uint8_t> block) {
  h = Mix(h, offset);
  size_t i = 0;
  for (; i + 8 <= block.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, block.data() + i, 8);
    h = Mix(h, word);
  }
  for (; i < block.size(); ++i)
    h = Mix(h, block[i]);
  return h;
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
  File file(path, O_WRONLY);
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
  File file(path, O_WRONLY | O_CREAT | O_TRUNC);
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
      if (!std::equal(want.begin(), want.end(), got.begin())) {
        std::ostringstream out;
        DescribeDifferences(want, got, 0, 8, out);
        return AssertionFailure() << "sector " << first + at + s << " of " << path << " is not the "
                                  << PatternTag(pattern) << " pattern sector " << first_key + at + s
                                  << ":\n"
                                  << out.str();
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

// ---- reading, writing, comparing ----

std::vector<uint8_t> ReadBytes(const std::string& path, uint64_t offset, size_t count) {
  std::vector<uint8_t> data(count, 0);
  File file(path, O_RDONLY);
  if (!file.ok()) {
    ADD_FAILURE() << Errno("cannot open", path);
    return data;
  }
  ssize_t r = file.ReadAt(offset, data.data(), count);
  if (r != static_cast<ssize_t>(count)) {
    ADD_FAILURE() << "short read of " << count << " bytes at " << offset << " in " << path;
  }
  return data;
}

std::vector<uint8_t> ReadSectors(const std::string& path, uint64_t first, uint64_t count) {
  return ReadBytes(path, first * kBlockSize, static_cast<size_t>(count * kBlockSize));
}

AssertionResult WriteBytes(const std::string& path, uint64_t offset,
                           std::span<const uint8_t> bytes) {
  File file(path, O_WRONLY);
  if (!file.ok())
    return AssertionFailure() << Errno("cannot open", path);
  if (!file.WriteAt(offset, bytes.data(), bytes.size())) {
    return AssertionFailure() << Errno("cannot write", path);
  }
  return AssertionSuccess();
}

AssertionResult WriteSectors(const std::string& path, uint64_t first,
                             std::span<const uint8_t> bytes) {
  return WriteBytes(path, first * kBlockSize, bytes);
}

FsBlock ReadFsBlock(const std::string& path, uint64_t offset, bool rtv4000) {
  std::vector<uint8_t> data = ReadBytes(path, offset, kFsBlockSize);
  FsBlock block{};
  std::copy(data.begin(), data.end(), block.begin());
  if (rtv4000)
    Rtv4000Byteswap(block);
  return block;
}

Sector ReadSector(const std::string& path, uint64_t sector, bool rtv4000) {
  std::vector<uint8_t> data = ReadSectors(path, sector, 1);
  Sector block{};
  std::copy(data.begin(), data.end(), block.begin());
  if (rtv4000)
    Rtv4000Byteswap(block);
  return block;
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return -1;
  return st.st_size;
}

uint64_t ImageHash(const std::string& path) {
  File file(path, O_RDONLY);
  int64_t size = FileSize(path);
  if (!file.ok() || size < 0) {
    ADD_FAILURE() << Errno("cannot hash", path);
    return 0;
  }
  uint64_t h = 0x51554c4cull;
  bool ok = ForEachDataBlock(
      file, static_cast<uint64_t>(size),
      [&](uint64_t offset, std::span<const uint8_t> block) { h = HashBlock(h, offset, block); });
  if (!ok)
    ADD_FAILURE() << Errno("cannot read", path);
  return Mix(h, static_cast<uint64_t>(size));
}

AssertionResult CopyImage(const std::string& from, const std::string& to) {
  File source(from, O_RDONLY);
  int64_t size = FileSize(from);
  if (!source.ok() || size < 0)
    return AssertionFailure() << Errno("cannot open", from);
  if (AssertionResult r = MakeBlankImage(to, 0); !r)
    return r;
  File target(to, O_WRONLY);
  if (!target.ok() || ::ftruncate(target.fd(), size) != 0) {
    return AssertionFailure() << Errno("cannot size", to);
  }
  bool written = true;
  bool read = ForEachDataBlock(
      source, static_cast<uint64_t>(size), [&](uint64_t offset, std::span<const uint8_t> block) {
        written = written && target.WriteAt(offset, block.data(), block.size());
      });
  if (!read || !written)
    return AssertionFailure() << "cannot copy " << from << " to " << to;
  return AssertionSuccess();
}

AssertionResult ImagesEqual(const std::string& expected, const std::string& actual) {
  int64_t expected_size = FileSize(expected);
  int64_t actual_size = FileSize(actual);
  if (expected_size == actual_size && ImageHash(expected) == ImageHash(actual)) {
    return AssertionSuccess();
  }
  std::ostringstream out;
  if (expected_size != actual_size) {
    out << "sizes differ: " << expected_size << " and " << actual_size << " bytes\n";
  }
  // Walk the union of both files' data: every non-zero 4 KiB block of either one.
  File a(expected, O_RDONLY);
  File b(actual, O_RDONLY);
  std::vector<uint64_t> blocks;
  auto collect = [&](const File& file, int64_t size) {
    ForEachDataBlock(file, static_cast<uint64_t>(std::max<int64_t>(size, 0)),
                     [&](uint64_t offset, std::span<const uint8_t>) { blocks.push_back(offset); });
  };
  collect(a, expected_size);
  collect(b, actual_size);
  std::sort(blocks.begin(), blocks.end());
  blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());

  size_t shown = 0;
  uint64_t differing_sectors = 0;
  for (uint64_t offset : blocks) {
    uint8_t x[kHashBlock] = {};
    uint8_t y[kHashBlock] = {};
    a.ReadAt(offset, x, kHashBlock);
    b.ReadAt(offset, y, kHashBlock);
    for (size_t s = 0; s < kHashBlock; s += kBlockSize) {
      std::span<const uint8_t> xs(x + s, kBlockSize);
      std::span<const uint8_t> ys(y + s, kBlockSize);
      if (std::equal(xs.begin(), xs.end(), ys.begin()))
        continue;
      ++differing_sectors;
      if (shown++ < 4) {
        out << "sector " << (offset + s) / kBlockSize << " differs:\n";
        DescribeDifferences(xs, ys, 0, 6, out);
      }
    }
  }
  return AssertionFailure() << expected << " and " << actual << " differ in " << differing_sectors
                            << " sector(s)\n"
                            << out.str();
}

AssertionResult BytesEqual(std::span<const uint8_t> expected, std::span<const uint8_t> actual) {
  if (expected.size() == actual.size() &&
      std::equal(expected.begin(), expected.end(), actual.begin())) {
    return AssertionSuccess();
  }
  std::ostringstream out;
  if (expected.size() != actual.size()) {
    out << "lengths differ: expected " << expected.size() << ", actual " << actual.size() << "\n";
  }
  size_t differing = DescribeDifferences(expected, actual, 0, 16, out);
  return AssertionFailure() << differing << " byte(s) differ\n" << out.str();
}

}  // namespace quillmar::testing
