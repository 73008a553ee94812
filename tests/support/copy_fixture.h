// What the copy tests share: a scripted front-end logging into a temporary folder, fake source and
// target drives whose bytes differ from sector to sector, and checks of what reached the target.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "tests/support/fake_device.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar::testing {

// Bytes that differ from sector to sector and, through seed, from drive to drive.
inline std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i / kBlockSize) * 13);
  return bytes;
}

inline uint64_t Bytes(uint64_t blocks) {
  return blocks * kBlockSize;
}

class CopyTest : public ::testing::Test {
 protected:
  static constexpr const char* kSource = "source-drive";
  static constexpr const char* kTarget = "target-drive";

  // Fake drives of the given sizes in blocks, source and target with different patterns.
  void MakeDrives(uint64_t source_blocks, uint64_t target_blocks) {
    source_ = &io_.Add(kSource, 0);
    source_->bytes() = Pattern(Bytes(source_blocks), 1);
    target_ = &io_.Add(kTarget, 0);
    target_->bytes() = target_before_ = Pattern(Bytes(target_blocks), 101);
  }

  // The target holds the source's blocks [from, from + blocks) at to, and elsewhere exactly
  // what it held before.
  void ExpectTargetHolds(uint64_t from, uint64_t to, uint64_t blocks) {
    const std::vector<uint8_t>& now = target_->bytes();
    ASSERT_EQ(now.size(), target_before_.size());
    for (uint64_t b = 0; b < now.size() / kBlockSize; ++b) {
      bool copied = b >= to && b < to + blocks;
      const uint8_t* expected = copied ? source_->bytes().data() + Bytes(from + b - to)
                                       : target_before_.data() + Bytes(b);
      ASSERT_EQ(0, std::memcmp(now.data() + Bytes(b), expected, kBlockSize))
          << "target block " << b << (copied ? " should be a copy" : " should be untouched");
    }
  }

  // Whatever the outcome: no descriptor open, the bar hidden if shown, nothing written to the
  // source.
  void ExpectCleanedUp() {
    EXPECT_EQ(io_.open_descriptors(), 0);
    EXPECT_EQ(ui_.progress_shown(), ui_.progress_hidden());
    EXPECT_FALSE(ui_.progress_visible());
    EXPECT_TRUE(source_->writes().empty());
  }

  TempDir dir_;
  ScriptedFrontEnd ui_{true, dir_.File("quillmar.log")};
  FakeDeviceIo io_;
  FakeDevice* source_ = nullptr;
  FakeDevice* target_ = nullptr;
  std::vector<uint8_t> target_before_;
};

}  // namespace quillmar::testing
