// What the fuzz targets share: the input handed out front to back, sparse drives (the suite's
// FakeDevice) whose sectors come from the input when first read, the suite's scripted front-end
// and the check that stops the run with a finding.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "format/partition_block.h"
#include "tests/support/fake_device.h"
#include "tests/support/scripted_front_end.h"

namespace quillmar::fuzzing {

using testing::FakeDevice;
using testing::FakeDeviceIo;
using testing::ScriptedFrontEnd;
using testing::WriteCall;

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
inline FakeDevice& AddInputDrive(FakeDeviceIo& io, const std::string& path, uint64_t size,
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
inline void Require(bool condition, const char* what) {
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
inline bool Inside(const WriteCall& write, std::span<const SectorRange> ranges) {
  return std::any_of(ranges.begin(), ranges.end(), [&](const SectorRange& range) {
    return write.offset >= range.first * kBlockSize &&
           write.offset + write.length <= range.end * kBlockSize;
  });
}

// Sector 0 of the drive in standard order, when order says the stored one is not.
inline Sector StandardSector0(FakeDevice& drive, bool (*order)(std::span<const uint8_t>)) {
  Sector sector0 = drive.Peek(0);
  if (order(sector0))
    Rtv4000Byteswap(sector0);
  return sector0;
}

// The sectors of partitions 2 and 3 (sector0 in standard order) on the first drive, of
// first_sectors, or on the second, where joined sector L is sector L - first_sectors + 2.
inline std::vector<SectorRange> PartitionRanges(const Sector& sector0, uint64_t first_sectors,
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

}  // namespace quillmar::fuzzing
