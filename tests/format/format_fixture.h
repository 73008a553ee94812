// What the format tests share: a recording front-end started on demand, a descriptor seam that
// fails one chosen call, the names of cases run in both byte orders,
// and the report of a device that cannot be opened.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "disk/forwarding_device_io.h"
#include "tests/support/param_names.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar::testing {

// One fault of the seam: the occurrence-th positioning at offset fails outright or lands one
// sector short, the write at offset fails, or the flush fails.
struct IoFault {
  enum Kind { kNone, kSeekFails, kSeekLandsShort, kWriteFails, kFlushFails } kind = kNone;
  uint64_t offset = 0;
  int occurrence = 1;
};

// A DeviceIo that passes everything to the POSIX one, records where each write lands, and
// injects one IoFault.
class FailingDeviceIo : public ForwardingDeviceIo {
 public:
  FailingDeviceIo() : ForwardingDeviceIo(PosixDeviceIo()) { SetDeviceIo(this); }
  ~FailingDeviceIo() override { SetDeviceIo(nullptr); }
  FailingDeviceIo(const FailingDeviceIo&) = delete;
  FailingDeviceIo& operator=(const FailingDeviceIo&) = delete;

  void Inject(const IoFault& fault) { fault_ = fault; }
  int opens() const { return opens_; }
  // Byte offsets of the writes that reached the file, in order.
  const std::vector<uint64_t>& writes() const { return writes_; }

  int Open(const std::string& path, OpenMode mode) override {
    ++opens_;
    return PosixDeviceIo().Open(path, mode);
  }
  int64_t Seek(int fd, uint64_t offset) override {
    bool seek_fault = fault_.kind == IoFault::kSeekFails || fault_.kind == IoFault::kSeekLandsShort;
    if (seek_fault && offset == fault_.offset && ++seeks_seen_ == fault_.occurrence) {
      if (fault_.kind == IoFault::kSeekFails)
        return -1;
      offset -= 512;  // really moves there: a write that ignored the failure would land there
    }
    int64_t landed = PosixDeviceIo().Seek(fd, offset);
    if (landed >= 0)
      positions_[fd] = static_cast<uint64_t>(landed);
    return landed;
  }
  ssize_t Read(int fd, void* buffer, size_t n) override {
    ssize_t r = PosixDeviceIo().Read(fd, buffer, n);
    if (r > 0)
      positions_[fd] += static_cast<uint64_t>(r);
    return r;
  }
  ssize_t Write(int fd, const void* buffer, size_t n) override {
    if (fault_.kind == IoFault::kWriteFails && positions_[fd] == fault_.offset) {
      errno = EIO;
      return -1;
    }
    writes_.push_back(positions_[fd]);
    ssize_t r = PosixDeviceIo().Write(fd, buffer, n);
    if (r > 0)
      positions_[fd] += static_cast<uint64_t>(r);
    return r;
  }
  int Flush(int fd) override {
    return fault_.kind == IoFault::kFlushFails ? -1 : PosixDeviceIo().Flush(fd);
  }

 private:
  IoFault fault_;
  int seeks_seen_ = 0;
  int opens_ = 0;
  std::map<int, uint64_t> positions_;
  std::vector<uint64_t> writes_;
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
