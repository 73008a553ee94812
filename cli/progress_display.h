// The progress bar of quillmar-cli on standard error: on a terminal one line redrawn in place
// (bar, percent, MB/s, time left); otherwise a plain line at every tenth of the way. MB are
// 1,048,576 bytes, as in the program's own messages.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace quillmar::cli {

// "[#######.............]  35%   84.2 MB/s   0:12 left" (bar) or "progress: 35%  84.2 MB/s
// 0:12 left" (plain). The rate is left out until some time has passed, the time left until
// the first percent.
std::string FormatProgress(int percent, double elapsed_seconds, uint64_t bytes, bool bar);

// The line that stays when the bar ends: "wrote 1004 MB in 0:05 (190.2 MB/s)" ("read ..." for a
// comparison, which writes nothing). The copy engine never shows 100%, and a copy that stopped
// early stopped wherever it was: the bytes written say what happened.
std::string FormatSummary(double elapsed_seconds, uint64_t bytes, const char* verb = "wrote");

// Bytes transferred so far in the process.
struct Transferred {
  uint64_t written = 0;
  uint64_t read = 0;
};

class ProgressDisplay {
 public:
  using BytesFunction = std::function<Transferred()>;
  using ClockFunction = std::function<double()>;  // seconds, monotonic

  // bytes: the bytes transferred so far in the process. The rate is the growth since Begin of the
  // bytes written, or of the bytes read while nothing is written.
  ProgressDisplay(std::FILE* out, bool terminal, BytesFunction bytes, ClockFunction clock = {});

  void Begin();
  void SetPos(int percent);
  void End();

  // On a terminal, other output must not run into the bar: Clear before it, Redraw after it.
  void Clear();
  void Redraw();

 private:
  void Draw();
  // The bytes since Begin that the rate and the summary count, and "wrote" or "read".
  uint64_t BytesSinceBegin(const char** verb) const;

  std::FILE* out_;
  bool terminal_;
  BytesFunction bytes_;
  ClockFunction clock_;
  bool visible_ = false;
  bool drawn_ = false;
  int percent_ = 0;
  int last_plain_ = 0;
  double start_seconds_ = 0;
  Transferred start_bytes_;
};

}  // namespace quillmar::cli
