// What the formatter and the MPEG reset tests share: a recording front-end started on demand, one
// fault of the descriptor seam described as a value, the names of cases run in both byte orders,
// and the report of a device that cannot be opened.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <tuple>

#include "tests/format/failing_device_io.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar::testing {

// One fault: the occurrence-th seek to offset fails or lands short, the write at offset fails,
// or the flush fails.
struct IoFault {
  enum Kind { kSeekFails, kSeekLandsShort, kWriteFails, kFlushFails } kind;
  uint64_t offset = 0;
  int occurrence = 1;

  void InjectInto(FailingDeviceIo& io) const {
    switch (kind) {
      case kSeekFails:
        io.FailSeek(offset, occurrence, FailingDeviceIo::SeekFault::kError);
        break;
      case kSeekLandsShort:
        io.FailSeek(offset, occurrence, FailingDeviceIo::SeekFault::kElsewhere);
        break;
      case kWriteFails:
        io.FailWriteAt(offset);
        break;
      case kFlushFails:
        io.FailFlush();
        break;
    }
  }
};

// Test names for cases run in both byte orders: a bool, or a tuple ending in one.
inline std::string ByteOrderName(bool rtv4000) {
  return rtv4000 ? "Rtv4000" : "Standard";
}
struct ByteOrderNames {
  std::string operator()(const ::testing::TestParamInfo<bool>& info) const {
    return ByteOrderName(info.param);
  }
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<std::tuple<Case, bool>>& info) const {
    return std::string(std::get<0>(info.param).name) + ByteOrderName(std::get<1>(info.param));
  }
};

class RecordingTest : public ::testing::Test {
 protected:
  ScriptedFrontEnd& StartRecording() {
    ui_.emplace(true, dir_.File("quillmar.log"));
    return *ui_;
  }

  // A device that cannot be opened is logged twice and shown once.
  void ExpectOpenFailureReported(const std::string& path) {
    std::string text = "*** ERROR: Could not open device " + path;
    EXPECT_EQ(std::count(ui_->lines().begin(), ui_->lines().end(), text), 2) << ui_->Transcript();
    ASSERT_EQ(ui_->boxes().size(), 1u);
    EXPECT_EQ(ui_->boxes()[0].text, text);
    EXPECT_EQ(ui_->boxes()[0].caption, "*** ERROR ***");
  }

  TempDir dir_;
  std::optional<ScriptedFrontEnd> ui_;
};

}  // namespace quillmar::testing
