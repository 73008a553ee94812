// Reading, writing, hashing and comparing image files for the tests.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "tests/support/disk_image.h"
#include "tests/support/raw_file.h"

namespace quillmar::testing {
namespace {

using ::testing::AssertionFailure;
using ::testing::AssertionResult;
using ::testing::AssertionSuccess;

constexpr size_t kHashBlock = 4096;

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
bool ForEachDataBlock(const RawFile& file, uint64_t size, Visit visit) {
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

}  // namespace

// ---- reading, writing, comparing ----

std::vector<uint8_t> ReadBytes(const std::string& path, uint64_t offset, size_t count) {
  std::vector<uint8_t> data(count, 0);
  RawFile file(path, O_RDONLY);
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
  RawFile file(path, O_WRONLY);
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
  RawFile file(path, O_RDONLY);
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
  RawFile source(from, O_RDONLY);
  int64_t size = FileSize(from);
  if (!source.ok() || size < 0)
    return AssertionFailure() << Errno("cannot open", from);
  if (AssertionResult r = MakeBlankImage(to, 0); !r)
    return r;
  RawFile target(to, O_WRONLY);
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
  RawFile a(expected, O_RDONLY);
  RawFile b(actual, O_RDONLY);
  std::vector<uint64_t> blocks;
  auto collect = [&](const RawFile& file, int64_t size) {
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
