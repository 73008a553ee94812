// The copy engine asks the kernel to read ahead on the source, through the descriptor seam, and
// layers in the seam pass the hints on.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "disk/copy_engine.h"
#include "disk/forwarding_device_io.h"
#include "tests/support/disk_image.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

using testing::MakeBlankImage;
using testing::ScriptedFrontEnd;
using testing::TempDir;

// Records the read-ahead hints and the descriptor they were given for.
class HintRecorder : public ForwardingDeviceIo {
 public:
  HintRecorder() : ForwardingDeviceIo(PosixDeviceIo()) { SetDeviceIo(this); }
  ~HintRecorder() override { SetDeviceIo(nullptr); }

  int Open(const std::string& path, OpenMode mode) override {
    int fd = ForwardingDeviceIo::Open(path, mode);
    if (mode == OpenMode::kReadOnly)
      source_fd = fd;
    return fd;
  }
  int AdviseWillNeed(int fd, uint64_t offset, uint64_t length) override {
    EXPECT_EQ(fd, source_fd) << "read-ahead belongs to the source";
    hints.emplace_back(offset, length);
    return ForwardingDeviceIo::AdviseWillNeed(fd, offset, length);
  }

  int source_fd = -1;
  std::vector<std::pair<uint64_t, uint64_t>> hints;
};

TEST(CopyReadAhead, HintsCoverTheSourceFromTheFirstBlockOnWithoutGaps) {
  TempDir dir;
  ASSERT_TRUE(MakeBlankImage(dir.File("source.img"), 200000));
  ASSERT_TRUE(MakeBlankImage(dir.File("target.img"), 200000));
  ScriptedFrontEnd ui;
  HintRecorder recorder;

  constexpr uint64_t kFirstBlock = 1000;
  constexpr uint32_t kCount = 150000;  // about 73 MiB
  ASSERT_EQ(CopyBlocks(dir.File("source.img"), dir.File("target.img"), kFirstBlock, 0, kCount), 0);

  ASSERT_FALSE(recorder.hints.empty());
  uint64_t expected = kFirstBlock * 512;
  for (const auto& [offset, length] : recorder.hints) {
    EXPECT_EQ(offset, expected) << "hints run on from where the last one ended";
    expected = offset + length;
  }
  EXPECT_GE(expected, (kFirstBlock + kCount) * 512) << "the whole range was hinted";
}

}  // namespace
}  // namespace quillmar
