// The copy benchmark: copies the same 2 GiB range in place over an existing target with the copy
// engine, with dd (bs=256K conv=notrunc,fsync) and with a plain 256 KiB read/write loop and a
// final fsync. Each round runs the three in a shuffled order, cold (caches dropped before each
// copy) and warm (the source read into the cache before each copy, the target's pages dropped),
// every copy after the same pause; the first round of each is a warm-up and not counted. It prints,
// per method, the median over the rounds of dd's time divided by the method's time (above 1: faster
// than dd) with its spread (the middle half of the rounds and the extremes, so one noisy round
// cannot decide), the CPU seconds per GiB, and the engine's peak resident memory, and it checks
// that every copy put the source's bytes in place and left the target's tail alone.
//
//   quillmar-bench [--rounds N] [--gib G] [--dir DIR] [--warm-only] [--loop]
//
// The files live in a temporary folder under DIR (default: the current folder, which must be on
// a disk, not tmpfs) and are removed at the end. Cold runs need root (drop_caches). With --loop
// (root) every copy runs between two loop devices attached to the files, as between two drives;
// they are detached at the end.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "disk/copy_engine.h"

namespace {

constexpr uint64_t kGiB = uint64_t{1} << 30;
constexpr uint64_t kTailBytes = uint64_t{16} << 20;
constexpr size_t kChunk = 256 * 1024;
constexpr size_t kFillChunk = 1 << 20;
constexpr int kMarkers = 64;
constexpr long kTmpfsMagic = 0x01021994;

const char* const kMethods[] = {"engine", "dd", "plain"};

// The byte at offset of a file made with seed: differs from sector to sector and file to file.
uint8_t PatternByte(uint64_t offset, uint64_t seed) {
  uint64_t x = (offset / 8) * 0x9E3779B97F4A7C15ull + seed * 0xD1B54A32D192ED03ull;
  x ^= x >> 29;
  return static_cast<uint8_t>(x >> (8 * (offset % 8)));
}

// Ends the benchmark with the reason; std::exit runs the removal of the files.
[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "quillmar-bench: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

// A file of size bytes: [0, split) with seed_a, [split, size) with seed_b; flushed.
void MakeFile(const std::string& path, uint64_t size, uint64_t split, uint64_t seed_a,
              uint64_t seed_b) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0)
    Die(path);
  std::vector<uint8_t> buffer(kFillChunk);
  for (uint64_t at = 0; at < size; at += kFillChunk) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(kFillChunk, size - at));
    for (size_t i = 0; i < n; ++i) {
      buffer[i] = PatternByte(at + i, at + i < split ? seed_a : seed_b);
    }
    if (::pwrite(fd, buffer.data(), n, static_cast<off_t>(at)) != static_cast<ssize_t>(n)) {
      Die(path);
    }
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0)
    Die(path);
}

// --- The copies, each run in a process of its own so its CPU time and memory are its own. ---

int RunEngine(const std::string& source, const std::string& target, uint64_t bytes) {
  return quillmar::CopyBlocks(source, target, 0, 0, static_cast<uint32_t>(bytes / 512)) == 0 ? 0
                                                                                             : 1;
}

int RunPlainLoop(const std::string& source, const std::string& target, uint64_t bytes) {
  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  int out = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
  if (in < 0 || out < 0)
    return 1;
  std::vector<uint8_t> buffer(kChunk);
  for (uint64_t done = 0; done < bytes; done += kChunk) {
    if (::read(in, buffer.data(), kChunk) != static_cast<ssize_t>(kChunk))
      return 1;
    if (::write(out, buffer.data(), kChunk) != static_cast<ssize_t>(kChunk))
      return 1;
  }
  return ::fsync(out) == 0 && ::close(out) == 0 && ::close(in) == 0 ? 0 : 1;
}

struct Sample {
  double seconds;
  double cpu_seconds;
  long peak_kib;
};

std::string g_self;

// Starts the method in a new process and waits for it.
Sample Run(const std::string& method, const std::string& source, const std::string& target,
           uint64_t bytes) {
  std::vector<std::string> argv;
  if (method == "dd") {
    argv = {"dd",
            "if=" + source,
            "of=" + target,
            "bs=256K",
            "count=" + std::to_string(bytes / kChunk),
            "conv=notrunc,fsync",
            "status=none"};
  } else {
    argv = {g_self, "--run", method, source, target, std::to_string(bytes)};
  }
  std::vector<char*> args;
  for (std::string& arg : argv)
    args.push_back(arg.data());
  args.push_back(nullptr);

  auto start = std::chrono::steady_clock::now();
  pid_t pid = ::fork();
  if (pid < 0)
    Die("fork");
  if (pid == 0) {
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid)
    Die("wait4");
  auto end = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "quillmar-bench: %s failed\n", method.c_str());
    std::exit(1);
  }
  auto cpu = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return {std::chrono::duration<double>(end - start).count(),
          cpu(usage.ru_utime) + cpu(usage.ru_stime), usage.ru_maxrss};
}

// --- Checks ---

struct Files {
  std::string source;
  std::string target;
  uint64_t bytes;  // the copied range
};

uint64_t MarkerOffset(const Files& files, int i) {
  uint64_t sectors = files.bytes / 512;
  return i == kMarkers - 1 ? files.bytes - 512 : (sectors / kMarkers) * i * 512 + (i * 7 % 512);
}

// Spoils sectors spread over the target's range (its first and last among them), so that a
// copy that skipped them is caught.
void SpoilMarkers(const Files& files) {
  int fd = ::open(files.target.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0)
    Die(files.target);
  std::vector<uint8_t> junk(512, 0xEE);
  for (int i = 0; i < kMarkers; ++i) {
    uint64_t at = MarkerOffset(files, i) / 512 * 512;
    if (::pwrite(fd, junk.data(), 512, static_cast<off_t>(at)) != 512)
      Die(files.target);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0)
    Die(files.target);
}

// Compares [offset, offset + n) of the target with the pattern expected there.
bool TargetHolds(int fd, uint64_t offset, uint64_t n, uint64_t split) {
  std::vector<uint8_t> got(kFillChunk);
  std::vector<uint8_t> want(kFillChunk);
  for (uint64_t at = offset; at < offset + n; at += kFillChunk) {
    size_t len = static_cast<size_t>(std::min<uint64_t>(kFillChunk, offset + n - at));
    if (::pread(fd, got.data(), len, static_cast<off_t>(at)) != static_cast<ssize_t>(len)) {
      return false;
    }
    for (size_t i = 0; i < len; ++i)
      want[i] = PatternByte(at + i, at + i < split ? 1 : 3);
    if (std::memcmp(got.data(), want.data(), len) != 0)
      return false;
  }
  return true;
}

// The marker sectors hold the source's bytes and the tail its own; with whole, every byte.
bool Verify(const Files& files, bool whole) {
  int fd = ::open(files.target.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    Die(files.target);
  bool ok = TargetHolds(fd, files.bytes, kTailBytes, files.bytes);
  for (int i = 0; ok && i < kMarkers; ++i) {
    ok = TargetHolds(fd, MarkerOffset(files, i) / 512 * 512, 512, files.bytes);
  }
  if (ok && whole)
    ok = TargetHolds(fd, 0, files.bytes, files.bytes);
  ::close(fd);
  return ok;
}

// Memory freed just before a copy is cheap to take again until the system has settled it: a
// virtual machine hands freed memory back to its host after a few seconds, and every page touched
// after that costs a fault in the host. Every copy starts after the same pause, so none inherits
// cheap memory from the copy or the cache drop before it.
constexpr unsigned kSettleSeconds = 5;

// The source wholly in the page cache and none of the target's range, as for every warm copy.
void WarmSource(const Files& files) {
  int in = ::open(files.source.c_str(), O_RDONLY | O_CLOEXEC);
  int out = ::open(files.target.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0 || out < 0)
    Die("warming the source");
  std::vector<uint8_t> buffer(kFillChunk);
  while (::read(in, buffer.data(), buffer.size()) > 0) {
  }
  ::posix_fadvise(out, 0, 0, POSIX_FADV_DONTNEED);
  ::close(in);
  ::close(out);
}

bool DropCaches() {
  ::sync();
  int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  bool ok = ::write(fd, "3\n", 2) == 2;
  return ::close(fd) == 0 && ok;
}

// --- Rounds and report ---

// The value below which the fraction q of the values lie, interpolated between neighbours.
double Quantile(std::vector<double> values, double q) {
  std::sort(values.begin(), values.end());
  double at = q * static_cast<double>(values.size() - 1);
  size_t below = static_cast<size_t>(at);
  size_t above = std::min(below + 1, values.size() - 1);
  double fraction = at - static_cast<double>(below);
  return values[below] + (values[above] - values[below]) * fraction;
}

double Median(const std::vector<double>& values) {
  return Quantile(values, 0.5);
}

// "middle half 0.98-1.10, all 0.90-1.20": the spread of the values around their median.
std::string Spread(const std::vector<double>& values) {
  char text[96];
  std::snprintf(text, sizeof text, "middle half %.2f-%.2f, all %.2f-%.2f", Quantile(values, 0.25),
                Quantile(values, 0.75), Quantile(values, 0), Quantile(values, 1));
  return text;
}

using Rounds = std::map<std::string, std::vector<Sample>>;

Rounds Measure(const Files& files, bool cold, int rounds, std::mt19937& random) {
  Rounds results;
  std::vector<std::string> order(std::begin(kMethods), std::end(kMethods));
  for (int round = 0; round <= rounds; ++round) {  // round 0 warms up
    std::shuffle(order.begin(), order.end(), random);
    std::string line;
    for (const std::string& method : order) {
      SpoilMarkers(files);
      if (cold && !DropCaches())
        Die("drop_caches");
      if (!cold)
        WarmSource(files);
      ::sleep(kSettleSeconds);
      Sample sample = Run(method, files.source, files.target, files.bytes);
      if (!Verify(files, false)) {
        std::fprintf(stderr, "quillmar-bench: %s left wrong bytes on the target\n", method.c_str());
        std::exit(1);
      }
      if (round > 0)
        results[method].push_back(sample);
      line += " " + method + " " + std::to_string(sample.seconds).substr(0, 5) + "s";
    }
    std::printf("  %s round %d%s:%s\n", cold ? "cold" : "warm", round,
                round == 0 ? " (warm-up)" : "", line.c_str());
    std::fflush(stdout);
  }
  return results;
}

// One line per method with its medians, then the ratio lines.
void Report(const Rounds& results, const char* mode, uint64_t bytes) {
  const std::vector<Sample>& dd = results.at("dd");
  double gib = static_cast<double>(bytes) / static_cast<double>(kGiB);
  std::map<std::string, double> ratio;
  std::map<std::string, std::string> spread;
  for (const char* method : kMethods) {
    const std::vector<Sample>& samples = results.at(method);
    std::vector<double> ratios, speeds, cpu;
    for (size_t i = 0; i < samples.size(); ++i) {
      ratios.push_back(dd[i].seconds / samples[i].seconds);
      speeds.push_back(static_cast<double>(bytes) / 1e6 / samples[i].seconds);
      cpu.push_back(samples[i].cpu_seconds / gib);
    }
    ratio[method] = Median(ratios);
    spread[method] = Spread(ratios);
    std::printf("  %-6s %s: %7.1f MB/s, %.2f CPU s/GiB, ratio to dd %.2f (%s)\n", method, mode,
                Median(speeds), Median(cpu), ratio[method], spread[method].c_str());
  }
  std::printf("ratio %s %.2f (%s over %zu rounds)\n", mode, ratio["engine"],
              spread["engine"].c_str(), dd.size());
  std::printf("plain loop ratio %s %.2f (%s)\n", mode, ratio["plain"], spread["plain"].c_str());
}

long PeakKib(const std::vector<Sample>& samples) {
  long peak = 0;
  for (const Sample& sample : samples)
    peak = std::max(peak, sample.peak_kib);
  return peak;
}

std::string g_workdir;
std::vector<std::string> g_loops;  // attached by this run

void RemoveWorkdir() {
  for (const std::string& loop : g_loops)
    std::system(("losetup -d " + loop).c_str());
  g_loops.clear();
  if (g_workdir.empty())
    return;
  std::error_code ignored;
  std::filesystem::remove_all(g_workdir, ignored);
  g_workdir.clear();
}

struct Options {
  int rounds = 9;
  uint64_t bytes = 2 * kGiB;
  std::string dir = ".";
  bool warm_only = false;
  bool loop = false;
};

// Attaches a loop device to the file and returns its path. It reads and writes the file past the
// page cache, so only the device's own cache is in play, as for a drive.
std::string AttachLoop(const std::string& file) {
  FILE* out = ::popen(("losetup --find --show --direct-io=on '" + file + "'").c_str(), "r");
  char path[64] = "";
  bool read = out != nullptr && std::fgets(path, sizeof path, out) != nullptr;
  if (out == nullptr || ::pclose(out) != 0 || !read)
    Die("losetup " + file);
  std::string device(path);
  device.erase(device.find_last_not_of('\n') + 1);
  g_loops.push_back(device);
  return device;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--warm-only" || name == "--loop") {
      options->warm_only |= name == "--warm-only";
      options->loop |= name == "--loop";
      continue;
    }
    if (i + 1 == argc)
      return false;
    const char* value = argv[++i];
    if (name == "--rounds") {
      options->rounds = std::atoi(value);
    } else if (name == "--gib") {
      options->bytes = std::strtoull(value, nullptr, 10) * kGiB;
    } else if (name == "--dir") {
      options->dir = value;
    } else {
      return false;
    }
  }
  return options->rounds > 0 && options->bytes > 0;
}

int RunChild(const char* method, const char* source, const char* target, const char* bytes) {
  uint64_t n = std::strtoull(bytes, nullptr, 10);
  if (std::strcmp(method, "engine") == 0)
    return RunEngine(source, target, n);
  if (std::strcmp(method, "plain") == 0)
    return RunPlainLoop(source, target, n);
  if (std::strcmp(method, "idle") == 0)
    return 0;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "--run") == 0) {
    return RunChild(argv[2], argv[3], argv[4], argv[5]);
  }
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr, "usage: %s [--rounds N] [--gib G] [--dir DIR] [--warm-only] [--loop]\n",
                 argv[0]);
    return 2;
  }
  g_self = std::filesystem::read_symlink("/proc/self/exe");
  struct statfs fs {};
  if (::statfs(options.dir.c_str(), &fs) != 0)
    Die(options.dir);
  if (fs.f_type == kTmpfsMagic) {
    std::fprintf(stderr, "quillmar-bench: %s is tmpfs; give --dir on a disk\n",
                 options.dir.c_str());
    return 2;
  }
  std::string pattern = options.dir + "/quillmar-bench-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr)
    Die(pattern);
  g_workdir = pattern;
  std::atexit(RemoveWorkdir);

  Files files{g_workdir + "/source.img", g_workdir + "/target.img", options.bytes};
  std::printf("quillmar-bench: %.1f GiB in place, %d rounds + warm-up, files in %s\n",
              static_cast<double>(options.bytes) / static_cast<double>(kGiB), options.rounds,
              g_workdir.c_str());
  std::fflush(stdout);
  MakeFile(files.source, files.bytes, files.bytes, 1, 1);
  MakeFile(files.target, files.bytes + kTailBytes, files.bytes, 2, 3);
  bool root = ::geteuid() == 0;
  if (options.loop && !root) {
    std::fprintf(stderr, "quillmar-bench: --loop needs root\n");
    return 2;
  }
  if (options.loop) {
    files.source = AttachLoop(files.source);
    files.target = AttachLoop(files.target);
    std::printf("between loop devices %s and %s\n", files.source.c_str(), files.target.c_str());
  }

  std::random_device seed;
  std::mt19937 random(seed());
  Rounds cold;
  if (root && !options.warm_only)
    cold = Measure(files, true, options.rounds, random);
  Rounds warm = Measure(files, false, options.rounds, random);
  if (!Verify(files, true)) {
    std::fprintf(stderr, "quillmar-bench: the target does not hold the source's bytes\n");
    return 1;
  }
  Sample idle = Run("idle", files.source, files.target, files.bytes);

  std::printf("results (medians; ratio = dd's time / the method's time, same rounds):\n");
  if (!cold.empty()) {
    Report(cold, "cold", files.bytes);
  } else {
    std::printf("cold: skipped (%s)\n", root ? "--warm-only" : "dropping the caches needs root");
  }
  Report(warm, "warm", files.bytes);
  long engine_peak = std::max(PeakKib(warm["engine"]), cold.empty() ? 0 : PeakKib(cold["engine"]));
  std::printf("engine peak resident memory %ld KiB (the same program doing nothing: %ld KiB)\n",
              engine_peak, idle.peak_kib);
  std::printf("verified: the copied range holds the source's bytes, the tail is untouched\n");
  return 0;
}
