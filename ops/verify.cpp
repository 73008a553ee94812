#include "ops/verify.h"

#include <algorithm>
#include <cinttypes>

#include "base/log.h"
#include "base/shown_path.h"
#include "disk/block_io.h"
#include "disk/copy_digest.h"
#include "disk/copy_engine.h"
#include "disk/copy_stop.h"
#include "disk/drive_table.h"
#include "disk/undo_file.h"
#include "disk/unique_fd.h"
#include "ops/drive_checks.h"

namespace quillmar {
namespace {

bool g_verify = false;
constexpr size_t kPieceBytes = size_t{kCopyChunkBlocks} * kBlockSize;
constexpr uint64_t kReadAheadWindowBytes = uint64_t{8} << 20;
constexpr uint64_t kReadAheadBytes = uint64_t{32} << 20;
// Sectors 0 and 1 and the first 10,240 sectors of partition 2 around the system partition.
constexpr uint64_t kSystemAreaExtraSectors = 2 + 10240;

// The first differing 512-byte block of two equal-length buffers, or kNoDifference.
uint64_t FirstDifferentBlock(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  auto mismatch = std::mismatch(a.begin(), a.end(), b.begin());
  if (mismatch.first == a.end())
    return kNoDifference;
  return static_cast<uint64_t>(mismatch.first - a.begin()) / kBlockSize;
}

// Reads the next bytes of fd into buffer; false (reported) when they cannot be read.
bool ReadPiece(int fd, uint64_t block, std::vector<uint8_t>& buffer, const std::string& path) {
  if (ReadBlocks(fd, buffer.data(), buffer.size(), true) == static_cast<int>(buffer.size()))
    return true;
  LogAndShow(Format("*** ERROR: Verify could not read block %" PRIu64 " back from %s", block,
                    ShownPath(path).c_str()),
             "*** ERROR ***");
  return false;
}

// Compares piece by piece from where both descriptors stand. With the digest of the copy, only
// the target is read, and the source only for a piece whose hash differs (to find its first
// differing block); without it, both are read in turn.
Comparison CompareOpen(int source, int target, uint64_t source_offset, uint64_t target_offset,
                       uint64_t count, const std::string& source_path,
                       const std::string& target_path, const CopyDigest* digest) {
  Comparison result;
  result.blocks = count;
  if (SeekExact(source, source_offset) != 1 || SeekExact(target, target_offset) != 1) {
    result = {-1, 0, kNoDifference, false};
    return result;
  }
  // Each side read is asked ahead for a window, so that it does not wait for its device at every
  // piece.
  uint64_t advised = 0;
  std::vector<uint8_t> expected(kPieceBytes);
  std::vector<uint8_t> actual(kPieceBytes);
  ProgressBegin();
  int shown = 0;
  for (uint64_t done = 0; done < count;) {
    if (int percent = static_cast<int>(done * 100 / count); percent > shown)
      ProgressSetPos(shown = percent);  // lets the window run: a Cancel click lands here
    if (CopyStopRequested()) {
      LogLine(Format("*** Verify interrupted at block %" PRIu64, done));
      result = {-1, done, kNoDifference, true};
      break;
    }
    size_t bytes =
        static_cast<size_t>(std::min<uint64_t>(count - done, kCopyChunkBlocks)) * kBlockSize;
    for (; advised < (done + kCopyChunkBlocks) * kBlockSize + kReadAheadBytes;
         advised += kReadAheadWindowBytes) {
      if (digest == nullptr)
        Io().AdviseWillNeed(source, source_offset + advised, kReadAheadWindowBytes);
      Io().AdviseWillNeed(target, target_offset + advised, kReadAheadWindowBytes);
    }
    actual.resize(bytes);
    if (!ReadPiece(target, target_offset / kBlockSize + done, actual, target_path)) {
      result = {-1, done, kNoDifference, false};  // compared up to the piece not read
      break;
    }
    // Read once and done with: its pages go again, so a long verify reuses a few pieces' worth of
    // memory instead of filling the cache.
    Io().AdviseDontNeed(target, target_offset + done * kBlockSize, bytes);
    if (digest != nullptr && ContentHash(actual) == digest->chunks[done / kCopyChunkBlocks]) {
      done += bytes / kBlockSize;
      continue;
    }
    expected.resize(bytes);
    if ((digest != nullptr && SeekExact(source, source_offset + done * kBlockSize) != 1) ||
        !ReadPiece(source, source_offset / kBlockSize + done, expected, source_path)) {
      result = {-1, done, kNoDifference, false};
      break;
    }
    uint64_t differs = FirstDifferentBlock(expected, actual);
    // Same as the source now, but not what the copy wrote there: the piece's first block.
    if (differs == kNoDifference && digest != nullptr)
      differs = 0;
    if (differs != kNoDifference) {
      result.first_difference = done + differs;
      break;
    }
    done += bytes / kBlockSize;
  }
  ProgressEnd();
  return result;
}

// CompareBlocks, with the digest of the copy when there is one.
Comparison CompareBlocksWith(const std::string& source_path, const std::string& target_path,
                             uint64_t source_block, uint64_t target_block, uint64_t count,
                             const CopyDigest* digest) {
  UniqueFd source = UniqueFd::Open(source_path, OpenMode::kReadOnly);
  UniqueFd target = UniqueFd::Open(target_path, OpenMode::kReadOnly);
  if (!source.valid() || !target.valid()) {
    ReportOpenFailure(source.valid() ? target_path : source_path);
    return {-1, count, kNoDifference};
  }
  if (digest != nullptr) {
    count = digest->blocks;
  } else if (count == 0) {
    int64_t length = Io().Length(source.get());
    uint64_t blocks = length < 0 ? 0 : static_cast<uint64_t>(length) / kBlockSize;
    count = blocks > source_block ? blocks - source_block : 0;
  }
  // The copy flushed the target: its clean pages can go, and the reads reach the device.
  Io().AdviseDontNeed(target.get(), 0, 0);
  Io().AdviseSequential(target.get());
  if (digest == nullptr)
    Io().AdviseSequential(source.get());
  return CompareOpen(source.get(), target.get(), source_block * kBlockSize,
                     target_block * kBlockSize, count, source_path, target_path, digest);
}

}  // namespace

void SetVerifyAfterCopy(bool on) {
  g_verify = on;
  KeepCopyDigests(on);
}

bool VerifyAfterCopy() {
  return g_verify;
}

Comparison CompareBlocks(const std::string& source_path, const std::string& target_path,
                         uint64_t source_block, uint64_t target_block, uint64_t count) {
  return CompareBlocksWith(source_path, target_path, source_block, target_block, count, nullptr);
}

int VerifyCopyIfAsked(const std::string& source_path, const std::string& target_path,
                      uint64_t source_block, uint64_t target_block, uint64_t count) {
  if (!g_verify)
    return 0;
  LogLine(Format("Verifying what was written to '%s'", ShownPath(target_path).c_str()));
  const CopyDigest* digest =
      CompletedCopyDigest(source_path, target_path, source_block, target_block, count);
  Comparison result =
      CompareBlocksWith(source_path, target_path, source_block, target_block, count, digest);
  if (result.status != 0)
    return -1;
  if (result.first_difference != kNoDifference) {
    LogAndShow(Format("*** ERROR: Verify failed: block %" PRIu64 " of %s differs from the "
                      "source.\n           The copy is NOT complete.",
                      target_block + result.first_difference, ShownPath(target_path).c_str()),
               "*** ERROR ***");
    return -1;
  }
  LogLine(Format("Verified: %" PRIu64 " blocks (%" PRIu64
                 "MB) read back, identical to what the copy read from the source",
                 result.blocks, result.blocks / 2048));
  return 0;
}

int CopyAndVerifyIfAsked(const std::string& source_path, const std::string& drive_path,
                         uint64_t source_block, uint64_t target_block, uint32_t count) {
  const int copied = CopyBlocks(source_path, drive_path, source_block, target_block, count);
  const bool stopped = CopyStopRequested();
  if (copied == kCopyPartlyWritten) {
    LogAndShow(Format("%s: %s\n           is only partly written. Run it again before the drive "
                      "is used.",
                      stopped ? "*** The copy was stopped" : "*** ERROR: The copy did not finish",
                      ShownPath(drive_path).c_str()),
               stopped ? "Copy interrupted" : kErrorCaption);
  }
  if (copied != 0)
    return -1;
  if (VerifyCopyIfAsked(source_path, drive_path, source_block, target_block, count) == 0)
    return 0;
  if (CopyStopRequested()) {
    LogAndShow(Format("*** The copy to %s is complete,\n    but its verify was stopped: it is "
                      "not verified.",
                      ShownPath(drive_path).c_str()),
               "Verify interrupted");
  }
  return -1;
}

std::vector<RangeComparison> CompareUpgradeRanges(int source_index, int target_index,
                                                  UpgradeRange which) {
  const DriveInfo& source = DriveAt(source_index);
  const DriveInfo& target = DriveAt(target_index);
  std::vector<RangeComparison> ranges;
  auto wanted = [which](UpgradeRange range) {
    return which == range || which == UpgradeRange::kAll;
  };
  if (wanted(UpgradeRange::kSystem))
    ranges.push_back({"system", 0, 0, uint64_t{source.p1_length} + kSystemAreaExtraSectors, {}});
  uint32_t p2 = source.p2_start;
  if (wanted(UpgradeRange::kMpeg) && p2 < source.size_sectors && p2 < target.size_sectors) {
    ranges.push_back(
        {"mpeg", p2, p2, std::min(source.size_sectors, target.size_sectors) - uint64_t{p2}, {}});
  }
  if (wanted(UpgradeRange::kPhoto) && source.p3_length != 0 &&
      source.p3_length <= target.size_sectors) {
    ranges.push_back({"photo",
                      source.p3_start,
                      target.size_sectors - uint64_t{source.p3_length},
                      source.p3_length,
                      {}});
  }
  for (RangeComparison& range : ranges) {
    range.result = CompareBlocks(source.device_path, target.device_path, range.source_block,
                                 range.target_block, range.blocks);
  }
  return ranges;
}

std::string RenderRangeComparisons(const std::vector<RangeComparison>& ranges) {
  std::string text;
  uint64_t bytes = 0;
  std::string first = "none";
  for (const RangeComparison& range : ranges) {
    const Comparison& r = range.result;
    std::string outcome = "identical";
    if (r.interrupted)
      outcome = "interrupted";
    else if (r.status != 0)
      outcome = "could not be read";
    else if (r.first_difference != kNoDifference)
      outcome = Format("first difference at target block %" PRIu64,
                       range.target_block + r.first_difference);
    text += Format("  %-6s %" PRIu64 " blocks from %" PRIu64 " to %" PRIu64 ": %s\n", range.name,
                   range.blocks, range.source_block, range.target_block, outcome.c_str());
    bytes += (r.first_difference == kNoDifference ? r.blocks : r.first_difference) * kBlockSize;
    if (first != "none" || outcome == "identical")
      continue;
    if (r.status == 0 && !r.interrupted && r.first_difference != kNoDifference) {
      first = Format("target block %" PRIu64 " (%s)", range.target_block + r.first_difference,
                     range.name);
    } else {
      first = Format("none found, %s %s", range.name, outcome.c_str());
    }
  }
  text += Format("%zu ranges, %" PRIu64 " bytes compared, first difference: %s\n", ranges.size(),
                 bytes, first.c_str());
  return text;
}

int VerifyUpgradeRanges(int source, int target, UpgradeRange which,
                        std::vector<RangeComparison>* ranges) {
  if (!CheckDifferentDrives(source, target))
    return -1;
  // Drive 1 of a pair holds only the start of its recordings: nothing to compare them with.
  if (which != UpgradeRange::kSystem && !CheckSourceNotDriveOneOfAPair(DriveAt(source)))
    return -1;
  *ranges = CompareUpgradeRanges(source, target, which);
  if (ranges->empty()) {
    ShowError(
        Format("*** ERROR: Nothing to compare: drive %d has no %s partition\n"
               "           that drive %d can hold.",
               source, which == UpgradeRange::kPhoto ? "Photo" : "MPEG", target));
    return -1;
  }
  for (const RangeComparison& range : *ranges) {
    if (range.result.status != 0 || range.result.first_difference != kNoDifference)
      return -1;
  }
  return 0;
}

}  // namespace quillmar
