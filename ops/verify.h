// Read-back verification: what a copy wrote is read again from the target, past the page cache,
// and compared with the source; and the comparison of the ranges an upgrade copies between two
// drives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillmar {

// Whether the copies verify what they wrote (--verify, the window's choice). Off at start.
void SetVerifyAfterCopy(bool on);
bool VerifyAfterCopy();

inline constexpr uint64_t kNoDifference = UINT64_MAX;

struct Comparison {
  int status = 0;       // 0 compared, -1 a read failed or it was interrupted (reported)
  uint64_t blocks = 0;  // compared (up to the interruption)
  uint64_t first_difference = kNoDifference;  // counted from the start of the range
  bool interrupted = false;                   // stopped at a stop request (CopyStopRequested)
};

// Compares count blocks of the source from source_block with the target from target_block (count
// 0: to the end of the source), with its own progress, until a stop request. The target's cached
// pages are dropped first, so its blocks come from the device.
Comparison CompareBlocks(const std::string& source_path, const std::string& target_path,
                         uint64_t source_block, uint64_t target_block, uint64_t count);

// The step after a copy: when verification is on, compares what was copied. 0 when it is off or
// every block is identical; -1 on a difference (reported with its first block) or a read failure.
int VerifyCopyIfAsked(const std::string& source_path, const std::string& target_path,
                      uint64_t source_block, uint64_t target_block, uint64_t count);

// A copy onto a drive, then VerifyCopyIfAsked. A copy that stops or fails once it has written
// closes with a box saying that the drive is partly written; a verify stopped after a complete
// copy, with one saying that the copy is not verified. 0, or -1.
int CopyAndVerifyIfAsked(const std::string& source_path, const std::string& drive_path,
                         uint64_t source_block, uint64_t target_block, uint32_t count);

enum class UpgradeRange { kSystem, kMpeg, kPhoto, kAll };

struct RangeComparison {
  const char* name;  // "system", "mpeg", "photo"
  uint64_t source_block = 0;
  uint64_t target_block = 0;
  uint64_t blocks = 0;
  Comparison result;
};

// Compares the ranges an upgrade copies from drive source to drive target (the Photo partition
// only when the source has one), as the copies place them.
std::vector<RangeComparison> CompareUpgradeRanges(int source, int target, UpgradeRange which);

// The verify command's comparison: refused (reported) for one drive twice, two names of one disk
// or disks that overlap, and when none of the ranges asked for is there to compare. 0 when every
// range compared identical; -1 otherwise. *ranges: what was compared, for the summary.
int VerifyUpgradeRanges(int source, int target, UpgradeRange which,
                        std::vector<RangeComparison>* ranges);

// The summary of such a comparison: one line per range, then ranges, bytes and first difference.
std::string RenderRangeComparisons(const std::vector<RangeComparison>& ranges);

}  // namespace quillmar
