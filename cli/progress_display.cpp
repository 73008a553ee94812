#include "cli/progress_display.h"

#include <algorithm>
#include <chrono>

namespace quillmar::cli {
namespace {

constexpr int kBarWidth = 30;
constexpr int kPlainStep = 10;              // percent between two plain lines
constexpr double kMinSecondsForRate = 0.2;  // before that, a rate would be noise
constexpr double kBytesPerMb = 1048576.0;

double SteadySeconds() {
  using std::chrono::duration;
  using std::chrono::steady_clock;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string FormatDuration(double seconds) {
  long total = static_cast<long>(seconds + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  }
  return text;
}

}  // namespace

std::string FormatProgress(int percent, double elapsed_seconds, uint64_t bytes, bool bar) {
  percent = std::clamp(percent, 0, 100);
  std::string text;
  char number[64];
  if (bar) {
    int filled = percent * kBarWidth / 100;
    text = "[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(kBarWidth - filled), '.') + "] ";
    std::snprintf(number, sizeof number, "%3d%%", percent);
  } else {
    std::snprintf(number, sizeof number, "progress: %d%%", percent);
  }
  text += number;
  if (elapsed_seconds >= kMinSecondsForRate) {
    std::snprintf(number, sizeof number, "  %7.1f MB/s",
                  static_cast<double>(bytes) / kBytesPerMb / elapsed_seconds);
    text += number;
  }
  if (percent >= 100) {
    text += "  done in " + FormatDuration(elapsed_seconds);
  } else if (percent > 0 && elapsed_seconds >= kMinSecondsForRate) {
    text += "  " + FormatDuration(elapsed_seconds * (100 - percent) / percent) + " left";
  }
  return text;
}

std::string FormatSummary(double elapsed_seconds, uint64_t bytes, const char* verb) {
  char text[96];
  std::snprintf(text, sizeof text, "%s %.0f MB in %s", verb,
                static_cast<double>(bytes) / kBytesPerMb, FormatDuration(elapsed_seconds).c_str());
  std::string summary = text;
  if (elapsed_seconds >= kMinSecondsForRate) {
    std::snprintf(text, sizeof text, " (%.1f MB/s)",
                  static_cast<double>(bytes) / kBytesPerMb / elapsed_seconds);
    summary += text;
  }
  return summary;
}

ProgressDisplay::ProgressDisplay(std::FILE* out, bool terminal, BytesFunction bytes,
                                 ClockFunction clock)
    : out_(out),
      terminal_(terminal),
      bytes_(std::move(bytes)),
      clock_(clock ? std::move(clock) : ClockFunction(SteadySeconds)) {}

void ProgressDisplay::Begin() {
  visible_ = true;
  percent_ = 0;
  last_plain_ = 0;
  start_seconds_ = clock_();
  start_bytes_ = bytes_();
  if (terminal_)
    Draw();
}

void ProgressDisplay::SetPos(int percent) {
  if (!visible_)
    return;
  percent_ = percent;
  if (terminal_) {
    Draw();
  } else if (percent >= last_plain_ + kPlainStep) {
    last_plain_ = percent - percent % kPlainStep;
    Draw();
  }
}

void ProgressDisplay::End() {
  if (!visible_)
    return;
  Clear();
  const char* verb = "wrote";
  uint64_t bytes = BytesSinceBegin(&verb);
  std::string summary = FormatSummary(clock_() - start_seconds_, bytes, verb);
  std::fprintf(out_, "%s\n", summary.c_str());
  std::fflush(out_);
  visible_ = false;
}

void ProgressDisplay::Clear() {
  if (!terminal_ || !drawn_)
    return;
  std::fputs("\r\033[K", out_);
  std::fflush(out_);
  drawn_ = false;
}

void ProgressDisplay::Redraw() {
  if (terminal_ && visible_)
    Draw();
}

void ProgressDisplay::Draw() {
  const char* verb = "wrote";
  std::string line =
      FormatProgress(percent_, clock_() - start_seconds_, BytesSinceBegin(&verb), terminal_);
  if (terminal_) {
    std::fprintf(out_, "\r%s\033[K", line.c_str());
    drawn_ = true;
  } else {
    std::fprintf(out_, "%s\n", line.c_str());
  }
  std::fflush(out_);
}

uint64_t ProgressDisplay::BytesSinceBegin(const char** verb) const {
  Transferred now = bytes_();
  uint64_t written = now.written - start_bytes_.written;
  uint64_t read = now.read - start_bytes_.read;
  if (written == 0 && read != 0) {
    *verb = "read";
    return read;
  }
  *verb = "wrote";
  return written;
}

}  // namespace quillmar::cli
