#include "disk/copy_engine.h"

#include <algorithm>
#include <cinttypes>
#include <cstdlib>
#include <memory>

#include "base/log.h"
#include "base/shown_path.h"
#include "disk/block_io.h"
#include "disk/copy_digest.h"
#include "disk/copy_stop.h"
#include "disk/device_io.h"
#include "disk/undo_recorder.h"
#include "disk/unique_fd.h"

namespace quillmar {
namespace {

constexpr size_t kCopyBufferBytes = size_t{kCopyChunkBlocks} * kBlockSize;
constexpr size_t kCopyBufferAlignment = 4096;  // page-aligned: the kernel copies whole pages
constexpr uint64_t kBlocksPerMegabyte = 2048;
static_assert(kWriteBehindStepBytes % kCopyBufferBytes == 0, "steps hold whole chunks");
static_assert(kWriteBehindWindowBytes % kWriteBehindStepBytes == 0, "windows hold whole steps");

struct FreeBuffer {
  void operator()(uint8_t* buffer) const { std::free(buffer); }
};
using CopyBuffer = std::unique_ptr<uint8_t, FreeBuffer>;

CopyBuffer AllocateCopyBuffer() {
  return CopyBuffer(
      static_cast<uint8_t*>(std::aligned_alloc(kCopyBufferAlignment, kCopyBufferBytes)));
}

// The byte offset of a block; a block number too large for any offset gives one that no seek
// reaches, so the copy stops at its seek.
uint64_t ByteOffset(uint64_t block) {
  return block > UINT64_MAX / kBlockSize ? UINT64_MAX : block * kBlockSize;
}

// The write-only open, which does not truncate. A missing target is a drive that has gone since
// the list was made (unplugged, or its image removed): it is never made anew, which would take
// the copy into a new file (or into memory, under /dev) and report it complete.
UniqueFd OpenTarget(const std::string& path) {
  return UniqueFd::Open(path, OpenMode::kWriteOnly);
}

// Blocks from source_block to the end of the source (rounded down; 0 when it starts beyond the
// end), with the full 64-bit length. -1 when the length cannot be taken: like a failed seek.
int64_t BlocksToEndOfSource(int fd, uint64_t source_block) {
  int64_t length = Io().Length(fd);
  if (length < 0) {
    LogLine("File seek error");
    return -1;
  }
  uint64_t start = ByteOffset(source_block);
  uint64_t size = static_cast<uint64_t>(length);
  return size > start ? static_cast<int64_t>((size - start) / kBlockSize) : 0;
}

// The bar shows the whole percent of blocks copied, done × 100 ÷ count, set before a chunk when it
// has advanced. It never passes 100 and never moves back, and copies shorter than 100 blocks need
// no special case: their bar stays at 0 until a chunk has reached a percent (a copy of one chunk
// shows 0 until it ends). The bar is hidden on every way out.
class CopyProgress {
 public:
  explicit CopyProgress(uint64_t count) : count_(count) { ProgressBegin(); }
  ~CopyProgress() { ProgressEnd(); }
  CopyProgress(const CopyProgress&) = delete;
  CopyProgress& operator=(const CopyProgress&) = delete;

  void Update(uint64_t done) {
    int percent = static_cast<int>(done * 100 / count_);
    if (percent <= shown_)
      return;
    ProgressSetPos(percent);
    shown_ = percent;
  }

 private:
  uint64_t count_;
  int shown_ = 0;
};

// Write-behind on the target: each step of kWriteBehindStepBytes written has its writeback
// started at once (a whole window would leave the target idle while it fills), and the oldest
// window of kWriteBehindWindowBytes is waited for as soon as more than
// kWriteBehindWindowsInFlight windows are on their way. So the device always has work queued,
// the progress follows data that is really going to the device, and a device error surfaces
// within a few windows instead of at the final flush. A window known to be on the device leaves
// the page cache at once: the writes then reuse a few windows' worth of pages instead of taking
// fresh ones for every byte of a partition that may be larger than the machine's memory (and
// pushing everything else out of the cache). Steps and windows count from the first target byte.
// Where the target has no write-behind, the final flush does it all.
class WriteBehind {
 public:
  WriteBehind(int fd, uint64_t start) : fd_(fd), started_end_(start), durable_end_(start) {}

  // The target has been written up to the byte offset end. 0, or -1 on a write error (reported).
  int Written(uint64_t end) {
    if (!enabled_ || end - started_end_ < kWriteBehindStepBytes)
      return 0;
    int started = StartWriteBehind(fd_, started_end_, end - started_end_);
    if (started != 0)
      return Stop(started);
    started_end_ = end;
    while (started_end_ - durable_end_ > kWriteBehindWindowsInFlight * kWriteBehindWindowBytes) {
      int waited = AwaitWriteBehind(fd_, durable_end_, kWriteBehindWindowBytes);
      if (waited != 0)
        return Stop(waited);
      Io().AdviseDontNeed(fd_, durable_end_, kWriteBehindWindowBytes);  // clean now: a hint
      durable_end_ += kWriteBehindWindowBytes;
    }
    return 0;
  }

  // Everything before this byte offset is known to be on the device.
  uint64_t durable_end() const { return durable_end_; }

 private:
  int Stop(int result) {
    enabled_ = false;
    return result < 0 ? -1 : 0;  // 1: no write-behind here, the flush does it all
  }

  int fd_;
  bool enabled_ = true;
  uint64_t started_end_;
  uint64_t durable_end_;
};

// Read-ahead on the source: the kernel is asked to fetch the next window while the current one is
// copied, so the device keeps reading while the engine writes. A hint only; a source that takes no
// hints is read as it comes.
class ReadAhead {
 public:
  explicit ReadAhead(int fd, uint64_t start) : fd_(fd), advised_end_(start) {}

  // The source is about to be read from the byte offset position on.
  void Reading(uint64_t position) {
    while (advised_end_ < position + kReadAheadBytes) {
      Io().AdviseWillNeed(fd_, advised_end_, kReadAheadWindowBytes);
      advised_end_ += kReadAheadWindowBytes;
    }
  }

 private:
  static constexpr uint64_t kReadAheadWindowBytes = uint64_t{8} << 20;
  static constexpr uint64_t kReadAheadBytes = uint64_t{64} << 20;
  int fd_;
  uint64_t advised_end_;
};

void LogReadAbort(uint64_t block) {
  LogLine(Format("ERROR: Failed to read block %" PRIu64 " from source - copy aborted", block));
}

void LogWriteAbort(uint64_t block) {
  LogLine(Format("ERROR: Failed to write block %" PRIu64 " to target - copy aborted", block));
}

// The copy loop, from where both descriptors stand, then the flush and close of the target. The
// block in the abort lines counts from the start of this copy: the first block of the chunk that
// failed, or for a write error that the device reports later (write-behind, flush) the first
// block not yet known to be on the device. A stop request ends the copy before the next chunk,
// with what was written flushed; a stopped copy fails.
int CopyChunks(int source, uint64_t source_offset, UniqueFd& target, uint64_t target_offset,
               uint64_t count, uint8_t* buffer) {
  CopyProgress progress(count);
  ReadAhead read_ahead(source, source_offset);
  WriteBehind write_behind(target.get(), target_offset);
  auto unconfirmed_block = [&] {
    return (write_behind.durable_end() - target_offset) / kBlockSize;
  };
  auto flush_target = [&] {
    if (FlushAndClose(target) == 0)
      return 0;
    LogWriteAbort(unconfirmed_block());
    return -1;
  };
  for (uint64_t done = 0; done < count;) {
    progress.Update(done);  // lets the window run: a Cancel click lands here
    if (CopyStopRequested()) {
      flush_target();
      LogLine(Format("*** Copy interrupted at block %" PRIu64, done));
      return done > 0 ? kCopyPartlyWritten : -1;
    }
    uint64_t chunk = std::min<uint64_t>(count - done, kCopyChunkBlocks);
    size_t bytes = static_cast<size_t>(chunk) * kBlockSize;
    read_ahead.Reading(source_offset + done * kBlockSize);
    if (ReadBlocks(source, buffer, bytes, true) != static_cast<int>(bytes)) {
      LogReadAbort(done);
      return done > 0 ? kCopyPartlyWritten : -1;
    }
    AddToCopyDigest(buffer, bytes);
    // A drive that refused the first chunk whole (read-only, or held back) has nothing of the copy.
    size_t taken = 0;
    if (WriteBlocks(target.get(), buffer, bytes, &taken) != static_cast<int>(bytes)) {
      LogWriteAbort(done);
      return done > 0 || taken > 0 ? kCopyPartlyWritten : -1;
    }
    done += chunk;
    if (write_behind.Written(target_offset + done * kBlockSize) != 0) {
      LogWriteAbort(unconfirmed_block());
      return kCopyPartlyWritten;
    }
  }
  if (flush_target() != 0)
    return kCopyPartlyWritten;
  CompleteCopyDigest(count);
  return 0;
}

}  // namespace

int CopyBlocks(const std::string& source_path, const std::string& target_path,
               uint64_t source_block, uint64_t target_block, uint32_t count) {
  BeginCopyDigest(source_path, target_path, source_block, target_block);
  CopyBuffer buffer = AllocateCopyBuffer();
  if (!buffer) {
    LogAndShow("*** ERROR: Failed to allocate memory for the copy buffer", "*** ERROR ***");
    return -1;
  }
  LogLine(Format("Copy from source '%s' at offset %" PRIu64, ShownPath(source_path).c_str(),
                 source_block));
  LogLine(Format("Copy to destination '%s' at offset %" PRIu64, ShownPath(target_path).c_str(),
                 target_block));

  UniqueFd source = UniqueFd::Open(source_path, OpenMode::kReadOnly);
  if (!source.valid()) {
    ReportOpenFailure(source_path);
    return -1;
  }
  Io().AdviseSequential(source.get());  // a long sequential read: larger read-ahead
  UniqueFd target = OpenTarget(target_path);
  if (!target.valid()) {
    ReportOpenFailure(target_path);
    return -1;
  }

  uint64_t blocks = count;
  if (count == 0) {
    int64_t to_end = BlocksToEndOfSource(source.get(), source_block);
    if (to_end < 0)
      return -1;
    blocks = static_cast<uint64_t>(to_end);
  }
  // A copy never writes anywhere but where it was asked: a seek that fails or lands elsewhere
  // stops it before the first write.
  uint64_t source_offset = ByteOffset(source_block);
  uint64_t target_offset = ByteOffset(target_block);
  if (SeekExact(source.get(), source_offset) != 1 || SeekExact(target.get(), target_offset) != 1) {
    return -1;
  }

  LogLine(
      Format("Copying %" PRIu64 " blocks (%" PRIu64 "MB)", blocks, blocks / kBlocksPerMegabyte));
  ExpectUndoableWrite(target_path, target_offset, blocks * kBlockSize);
  return CopyChunks(source.get(), source_offset, target, target_offset, blocks, buffer.get());
}

}  // namespace quillmar
