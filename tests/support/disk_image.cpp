#include "tests/support/disk_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "format/formatter.h"
#include "format/partition_block.h"
#include "format/volume_sequence.h"
#include "tests/support/disk_aliases.h"

namespace quillmar::testing {
namespace {

using ::testing::AssertionFailure;
using ::testing::AssertionResult;
using ::testing::AssertionSuccess;

constexpr size_t kDataBlock = 4096;

// Calls visit(offset) for every 4 KiB block of the file that is not all zero, reading only its
// data extents; false when the file cannot be read.
template <typename Visit>
bool ForEachDataBlock(const std::string& path, Visit visit) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  off_t size = fd < 0 ? -1 : ::lseek(fd, 0, SEEK_END);
  std::vector<uint8_t> buffer(256 * kDataBlock);
  bool ok = size >= 0;
  for (off_t at = 0; ok && at < size;) {
    off_t data = ::lseek(fd, at, SEEK_DATA);
    if (data < 0 && errno == ENXIO)
      break;  // only a hole remains
    off_t hole = data < 0 ? -1 : ::lseek(fd, data, SEEK_HOLE);
    off_t end = hole < 0 ? size : std::min(hole, size);  // no SEEK_DATA: read everything
    for (at = data < 0 ? at : std::max(at, data - data % 4096); ok && at < end;) {
      ssize_t n = ::pread(fd, buffer.data(), std::min<size_t>(buffer.size(), end - at), at);
      ok = n > 0;
      for (ssize_t i = 0; i < n; i += kDataBlock) {
        std::span<const uint8_t> block(&buffer[i], std::min<size_t>(kDataBlock, n - i));
        if (std::any_of(block.begin(), block.end(), [](uint8_t b) { return b != 0; }))
          visit(static_cast<uint64_t>(at + i), block);
      }
      at += std::max<ssize_t>(n, 0);
    }
  }
  if (fd >= 0)
    ::close(fd);
  return ok;
}

uint64_t Mix(uint64_t h, uint64_t v) {
  h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
  h *= 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 31);
}

Sector PatternSector(Pattern pattern, uint64_t key) {
  Sector sector{};
  std::copy_n(pattern == Pattern::kSystem ? "QSYSPART" : "QRECORD!", 8, sector.begin());
  uint64_t state = (key + 1) * 0x9E3779B97F4A7C15ull ^ (pattern == Pattern::kSystem ? 0x5A : 0xA5);
  for (size_t i = 8; i < kBlockSize; i += 8) {
    if (i > 8) {  // xorshift
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
    }
    for (size_t j = 0; j < 8; ++j)
      sector[i + j] = static_cast<uint8_t>((i == 8 ? key : state) >> (8 * j));
  }
  return sector;
}

AssertionResult FillPattern(const std::string& path, uint64_t first, uint64_t count,
                            Pattern pattern) {
  std::vector<uint8_t> chunk;
  for (uint64_t at = first; at < first + count; at += 2048) {  // 1 MiB a write
    chunk.clear();
    for (uint64_t s = at; s < std::min(at + 2048, first + count); ++s) {
      Sector sector = PatternSector(pattern, s);
      chunk.insert(chunk.end(), sector.begin(), sector.end());
    }
    if (AssertionResult r = WriteSectors(path, at, chunk); !r)
      return r;
  }
  return AssertionSuccess();
}

AssertionResult WriteInOrder(const std::string& path, uint64_t sector, Sector block, bool rtv4000) {
  if (rtv4000)
    Rtv4000Byteswap(block);
  return WriteSectors(path, sector, block);
}

// The MPEG or Photo file system at sector (none when its cluster size or count is 0).
AssertionResult Format(const std::string& path, uint64_t sector, uint32_t length,
                       const ReplayTvDisk& disk, bool mpeg) {
  uint32_t cluster_size = mpeg ? disk.mpeg_cluster_size : 8192;
  uint64_t clusters = cluster_size < kBlockSize ? 0 : length / (cluster_size / kBlockSize);
  std::vector<std::string> dirs;
  if (!mpeg)
    dirs = {"tmp", "Photo"};
  if (clusters != 0 && FormatPartition(path, sector * kBlockSize, disk.rtv4000, cluster_size,
                                       clusters, mpeg ? "mpeg" : "storage", dirs) != 0)
    return AssertionFailure() << "formatting sector " << sector << " of " << path << " failed";
  return AssertionSuccess();
}

// Everything of drive 1 but sector 1, the Photo file system and the recordings.
AssertionResult WriteFirstDrive(const std::string& path, const ReplayTvDisk& disk) {
  uint64_t layout = disk.layout_sectors != 0 ? disk.layout_sectors : disk.disk_sectors;
  if (layout > 0xFFFFFFFFull || uint64_t{disk.p1_length} + 2 + disk.photo_sectors >= layout)
    return AssertionFailure() << "no room for partition 2 in " << layout << " sectors";
  ReplayTvGeometry g = Geometry(disk);
  // Bytes no rewrite may change get recognisable values: 0..445 and each entry's bytes 0-7.
  Sector block{};
  for (size_t i = 0; i < 446; ++i)
    block[i] = static_cast<uint8_t>(i * 7 + 3);
  auto put = [&](int n, uint32_t start, uint32_t length) {
    const uint8_t filler[8] = {0x80, 0x01, 0x02, 0x03, 0x00, 0xFE, 0xFF, 0xFF};
    std::copy_n(filler, 8, block.begin() + static_cast<ptrdiff_t>(PartitionEntryOffset(n)));
    WritePartitionEntry(block, n, {kRecorderPartitionType, start, length});
  };
  put(1, 2, disk.p1_length);
  put(2, g.p2_start, g.p2_length);
  if (g.p3_length != 0)
    put(3, g.p3_start, g.p3_length);
  block[510] = 0x55;
  block[511] = 0xAA;
  AssertionResult r = MakeBlankImage(path, disk.disk_sectors);
  if (r)
    r = WriteInOrder(path, 0, block, disk.rtv4000);
  if (r)
    r = FillPattern(path, 2, std::min<uint64_t>(disk.p1_length, disk.disk_sectors - 2),
                    Pattern::kSystem);
  return r ? Format(path, g.p2_start, g.p2_length, disk, true) : r;
}

AssertionResult WriteRecordings(const std::string& path, const ReplayTvDisk& disk) {
  for (const SectorRun& run : disk.recordings) {
    if (AssertionResult r = FillPattern(path, run.first, run.count, Pattern::kRecording); !r)
      return r;
  }
  return AssertionSuccess();
}

}  // namespace

AssertionResult MakeBlankImage(const std::string& path, uint64_t sectors) {
  std::error_code error;
  std::ofstream(path, std::ios::binary | std::ios::trunc).close();
  std::filesystem::resize_file(path, sectors * kBlockSize, error);
  if (error)
    return AssertionFailure() << "cannot create " << path << ": " << error.message();
  return AssertionSuccess();
}

AssertionResult HasPattern(const std::string& path, uint64_t first, uint64_t count, Pattern pattern,
                           uint64_t first_key) {
  for (uint64_t at = 0; at < count; at += 2048) {
    std::vector<uint8_t> data = ReadSectors(path, first + at, std::min<uint64_t>(2048, count - at));
    for (uint64_t s = 0; s < data.size() / kBlockSize; ++s) {
      Sector want = PatternSector(pattern, first_key + at + s);
      if (!std::equal(want.begin(), want.end(), data.begin() + s * kBlockSize))
        return AssertionFailure() << "sector " << first + at + s << " of " << path
                                  << " is not pattern sector " << first_key + at + s;
    }
  }
  return AssertionSuccess();
}

ReplayTvGeometry Geometry(const ReplayTvDisk& disk) {
  uint64_t layout = disk.layout_sectors != 0 ? disk.layout_sectors : disk.disk_sectors;
  ReplayTvGeometry g;
  g.p2_start = disk.p1_length + 2;
  g.p3_length = disk.photo_sectors;
  g.p3_start = disk.photo_sectors != 0 ? static_cast<uint32_t>(layout - disk.photo_sectors) : 0;
  g.p2_length = static_cast<uint32_t>(layout - g.p2_start - disk.photo_sectors);
  return g;
}

AssertionResult MakeReplayTvDisk(const std::string& path, const ReplayTvDisk& disk) {
  auto sectors = static_cast<uint32_t>(disk.disk_sectors);
  ReplayTvGeometry g = Geometry(disk);
  AssertionResult r = WriteFirstDrive(path, disk);
  if (r && disk.stale_pair_block)
    r = WriteInOrder(path, 1, BuildVolumeSequenceBlock(0, sectors, sectors), disk.rtv4000);
  if (r)
    r = Format(path, g.p3_start, g.p3_length, disk, false);
  return r ? WriteRecordings(path, disk) : r;
}

AssertionResult MakeReplayTvPair(const std::string& path1, const std::string& path2,
                                 const ReplayTvDisk& first, uint64_t second_sectors) {
  uint64_t s1 = first.disk_sectors;
  ReplayTvDisk disk = first;
  if (disk.layout_sectors == 0)
    disk.layout_sectors = s1 + second_sectors - 2;
  ReplayTvGeometry g = Geometry(disk);
  if (g.p3_length != 0 && g.p3_start < s1)
    return AssertionFailure() << "the Photo partition would begin on drive 1";
  if (disk.mpeg_cluster_size != 0 && g.p2_start + 5ull * disk.mpeg_cluster_size / kBlockSize > s1)
    return AssertionFailure() << "the MPEG file system does not fit on drive 1";
  auto block = [&](int drive) {
    return BuildVolumeSequenceBlock(drive, static_cast<uint32_t>(s1),
                                    static_cast<uint32_t>(second_sectors));
  };
  AssertionResult r = WriteFirstDrive(path1, disk);
  if (r)
    r = WriteInOrder(path1, 1, block(0), disk.rtv4000);
  if (r)
    r = WriteRecordings(path1, disk);
  if (r)
    r = MakeBlankImage(path2, second_sectors);
  if (r)
    r = WriteInOrder(path2, 0, EmptyPartitionBlock(), disk.rtv4000);
  if (r)
    r = WriteInOrder(path2, 1, block(1), disk.rtv4000);
  return r ? Format(path2, g.p3_start - s1 + 2, g.p3_length, disk, false) : r;
}

AssertionResult MakePcDisk(const std::string& path, uint64_t sectors, PcDisk kind) {
  sectors = std::max<uint64_t>(sectors, 8192);
  if (AssertionResult r = MakeBlankImage(path, sectors); !r)
    return r;
  uint8_t type = kind == PcDisk::kNtfs ? 0x07 : 0x83;
  Sector mbr{};
  PutLe32(mbr, 440, 0x51554c4c);  // disk identifier
  auto length = static_cast<uint32_t>(std::min<uint64_t>(sectors, 0xFFFFFFFFull) - 2048);
  WritePartitionEntry(mbr, 1, {type, 2048, length});
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  return WriteSectors(path, 0, mbr);
}

std::vector<uint8_t> ReadBytes(const std::string& path, uint64_t offset, size_t count) {
  std::vector<uint8_t> data(count);
  std::ifstream file(path, std::ios::binary);
  file.seekg(static_cast<std::streamoff>(offset));
  file.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(count));
  if (static_cast<size_t>(file.gcount()) != count)
    ADD_FAILURE() << "short read of " << count << " bytes at " << offset << " in " << path;
  return data;
}

std::vector<uint8_t> ReadSectors(const std::string& path, uint64_t first, uint64_t count) {
  return ReadBytes(path, first * kBlockSize, static_cast<size_t>(count * kBlockSize));
}

AssertionResult WriteBytes(const std::string& path, uint64_t offset,
                           std::span<const uint8_t> bytes) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(static_cast<std::streamoff>(offset));
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!file.flush())
    return AssertionFailure() << "cannot write " << path;
  return AssertionSuccess();
}

AssertionResult WriteSectors(const std::string& path, uint64_t first,
                             std::span<const uint8_t> bytes) {
  return WriteBytes(path, first * kBlockSize, bytes);
}

Sector ReadSector(const std::string& path, uint64_t sector, bool rtv4000) {
  Sector block{};
  std::vector<uint8_t> data = ReadSectors(path, sector, 1);
  std::copy(data.begin(), data.end(), block.begin());
  if (rtv4000)
    Rtv4000Byteswap(block);
  return block;
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

uint64_t ImageHash(const std::string& path) {
  uint64_t h = 0x51554c4cull;
  bool read = ForEachDataBlock(path, [&](uint64_t offset, std::span<const uint8_t> block) {
    h = Mix(h, offset);
    for (size_t i = 0; i < block.size(); i += 8) {
      uint64_t word = 0;
      std::memcpy(&word, block.data() + i, std::min<size_t>(8, block.size() - i));
      h = Mix(h, word);
    }
  });
  if (!read)
    ADD_FAILURE() << "cannot hash " << path;
  return Mix(h, static_cast<uint64_t>(FileSize(path)));
}

AssertionResult CopyImage(const std::string& from, const std::string& to) {
  if (!ShellOutput("cp --sparse=always '" + from + "' '" + to + "'"))
    return AssertionFailure() << "cannot copy " << from << " to " << to;
  return AssertionSuccess();
}

AssertionResult ImagesEqual(const std::string& expected, const std::string& actual) {
  auto size = static_cast<uint64_t>(FileSize(expected));
  if (FileSize(expected) != FileSize(actual))
    return AssertionFailure() << expected << " has " << size << " bytes, " << actual << " has "
                              << FileSize(actual);
  if (ImageHash(expected) == ImageHash(actual))
    return AssertionSuccess();
  uint64_t first = UINT64_MAX;  // the first differing sector among the data blocks of either
  for (const std::string* path : {&expected, &actual}) {
    ForEachDataBlock(*path, [&](uint64_t offset, auto) {
      for (uint64_t at = offset; at < std::min(offset + kDataBlock, size); at += kBlockSize) {
        if (ReadBytes(expected, at, kBlockSize) != ReadBytes(actual, at, kBlockSize))
          first = std::min(first, at / kBlockSize);
      }
    });
  }
  return AssertionFailure() << expected << " and " << actual << " differ from sector " << first;
}

// The shell commands, loop devices and disk aliases of disk_aliases.h.

std::optional<std::string> ShellOutput(const std::string& command) {
  std::string full = "PATH=\"$PATH:/usr/sbin:/sbin\"; " + command + " 2>/dev/null";
  FILE* pipe = ::popen(full.c_str(), "r");
  if (pipe == nullptr)
    return std::nullopt;
  std::string out;
  char buffer[256];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out.append(buffer, n);
  return ::pclose(pipe) == 0 ? std::optional(out) : std::nullopt;
}

namespace {

// Another test process may hold the device for a moment: tries for a few seconds.
void Patiently(const std::string& command) {
  for (int attempt = 0; !ShellOutput(command); ++attempt) {
    if (attempt == 50) {
      ADD_FAILURE() << "failed: " << command;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

bool IsBlockDevice(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

}  // namespace

LoopDevice::LoopDevice(const std::string& file, const std::string& options) {
  std::string out =
      ShellOutput("losetup --find --show " + options + " '" + file + "'").value_or("");
  if (out.rfind("/dev/loop", 0) == 0)
    path_ = out.substr(0, out.find_first_of(" \n"));
}

LoopDevice::~LoopDevice() {
  if (!mount_point_.empty())
    Patiently("umount '" + mount_point_ + "'");
  if (!path_.empty())
    Patiently("losetup -d " + path_);
}

bool LoopDevice::MountNewFileSystem(const std::string& folder, const std::string& mount_point) {
  if (!ShellOutput("mkfs.ext4 -q -F -d '" + folder + "' " + path_ + " && mkdir '" + mount_point +
                   "' && mount -o ro,noload " + path_ + " '" + mount_point + "'"))
    return false;
  mount_point_ = mount_point;
  return true;
}

const std::vector<DiskAlias>& DiskAliases() {
  using Names = std::pair<std::string, std::string>;
  using Loops = std::list<LoopDevice>;
  static const std::vector<DiskAlias> aliases = {
      {"SamePathTwice", false, false,
       [](auto& image, Loops*) -> Names {
         return {image, image};
       }},
      {"SymbolicLink", false, false,
       [](auto& image, Loops*) -> Names {
         return {image, ::symlink(image.c_str(), (image + "~").c_str()) == 0 ? image + "~" : ""};
       }},
      {"HardLink", false, false,
       [](auto& image, Loops*) -> Names {
         return {image, ::link(image.c_str(), (image + "~").c_str()) == 0 ? image + "~" : ""};
       }},
      {"LoopDevice", true, false,
       [](auto& image, Loops* loops) -> Names {
         return {image, loops->emplace_back(image).path()};
       }},
      {"LoopDeviceWithAnOffset", true, true,
       [](auto& image, Loops* loops) -> Names {
         return {image, loops->emplace_back(image, "--offset 1048576").path()};
       }},
      {"PartitionAndItsDisk", true, true,
       [](auto& image, Loops* loops) -> Names {
         const std::string disk = loops->emplace_back(image, "-P").path(), part = disk + "p1";
         if (!disk.empty() && !IsBlockDevice(part))  // no partition-table parser: partx adds it
           ShellOutput("partx -a " + disk);
         return {disk, !disk.empty() && IsBlockDevice(part) ? part : ""};
       }},
      {"ImageOnAFileSystemOfTheDisk", true, true,
       [](auto& image, Loops* loops) -> Names {
         std::filesystem::create_directory(image + ".files");
         std::ofstream(image + ".files/drive.img") << std::string(4096, 'q');
         LoopDevice& disk = loops->emplace_back(image);
         bool made = !disk.path().empty() && disk.MountNewFileSystem(image + ".files", image + "~");
         return {disk.path(), made ? image + "~/drive.img" : ""};
       }},
  };
  return aliases;
}

}  // namespace quillmar::testing
