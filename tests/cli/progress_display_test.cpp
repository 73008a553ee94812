#include "cli/progress_display.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/cli/memory_stream.h"

namespace quillmar {
namespace {

using cli::FormatProgress;
using cli::ProgressDisplay;

constexpr uint64_t kMb = 1048576;  // as the program's messages count

TEST(ProgressDisplay, LinesShowWhatIsKnownSoFar) {
  EXPECT_EQ(cli::FormatSummary(5.0, 1004 * kMb), "wrote 1004 MB in 0:05 (200.8 MB/s)");
  EXPECT_EQ(cli::FormatSummary(0.0, 0), "wrote 0 MB in 0:00");
  // 250 MB in 10 s at a quarter of the way: 25 MB/s, 30 s to go.
  EXPECT_EQ(FormatProgress(25, 10.0, 250 * kMb, false), "progress: 25%     25.0 MB/s  0:30 left");
  EXPECT_EQ(FormatProgress(25, 10.0, 250 * kMb, true),
            "[#######.......................]  25%     25.0 MB/s  0:30 left");
  EXPECT_EQ(FormatProgress(50, 3600.0, 0, false), "progress: 50%      0.0 MB/s  1:00:00 left");
  EXPECT_EQ(FormatProgress(100, 65.0, 650 * kMb, false),
            "progress: 100%     10.0 MB/s  done in 1:05");
  // Nothing to divide by yet, no rate yet, or past the end.
  EXPECT_EQ(FormatProgress(0, 0.0, 0, false), "progress: 0%");
  EXPECT_EQ(FormatProgress(0, 5.0, 5 * kMb, false), "progress: 0%      1.0 MB/s");
  EXPECT_EQ(FormatProgress(140, 0.0, 0, false), "progress: 100%  done in 0:00");
}

class PlainProgress : public ::testing::Test {
 protected:
  std::string Text() { return stream_.Text(); }
  ProgressDisplay Display(bool terminal) {
    auto bytes = [this] { return cli::Transferred{bytes_, read_}; };
    return ProgressDisplay(file_, terminal, bytes, [this] { return now_; });
  }

  testing::MemoryStream stream_;
  std::FILE* file_ = stream_.get();
  double now_ = 100.0;
  uint64_t bytes_ = 7000;  // counted before this copy began: not part of its rate
  uint64_t read_ = 9000;
};

TEST_F(PlainProgress, PrintsALineAtEveryTenthOfTheWay) {
  ProgressDisplay progress = Display(false);
  for (uint64_t* counted : {&bytes_, &read_}) {  // a copy writes; a comparison only reads
    progress.Begin();
    for (int pos = 1; pos <= 100; ++pos) {
      now_ += 0.1;
      *counted += kMb;
      read_ += counted == &bytes_ ? 3 * kMb : 0;  // what a copy reads is not its rate
      progress.SetPos(pos);
    }
    progress.End();
  }
  std::string text = Text();
  int lines = 0;
  for (char c : text)
    lines += c == '\n';
  EXPECT_EQ(lines, 22) << text;
  EXPECT_NE(text.find("progress: 10%     10.0 MB/s  0:09 left\n"), std::string::npos) << text;
  EXPECT_NE(text.find("progress: 100%     10.0 MB/s  done in 0:10\n"
                      "wrote 100 MB in 0:10 (10.0 MB/s)\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("read 100 MB in 0:10 (10.0 MB/s)\n"), std::string::npos) << text;
}

TEST_F(PlainProgress, SkippedPercentsStillGiveOneLinePerStep) {
  ProgressDisplay progress = Display(false);
  progress.Begin();
  progress.SetPos(37);  // one line for the 10, 20 and 30 crossed at once
  progress.SetPos(39);
  progress.SetPos(41);
  progress.End();
  progress.SetPos(90);  // after End nothing is shown
  std::string text = Text();
  EXPECT_EQ(text, "progress: 37%\nprogress: 41%\nwrote 0 MB in 0:00\n");
}

TEST_F(PlainProgress, OnATerminalTheLineIsRedrawnAndClearedForOtherOutput) {
  ProgressDisplay progress = Display(true);
  progress.Begin();
  progress.SetPos(50);
  progress.Clear();
  progress.Redraw();
  progress.End();
  std::string text = Text();
  EXPECT_EQ(text.find('\n'), text.size() - 1) << text;      // one line, ended once at the end
  const std::string last = "\r\033[Kwrote 0 MB in 0:00\n";  // the bar gives way to the summary
  EXPECT_EQ(text.rfind(last), text.size() - last.size()) << text;
  EXPECT_NE(text.find("\r\033[K"), std::string::npos);
  EXPECT_NE(text.find(" 50%"), std::string::npos);
}

}  // namespace
}  // namespace quillmar
