// Copies a run of 512-byte blocks from one drive or file to another, in chunks of up to 512
// blocks through one 256 KiB buffer, with progress, stopping at the first block that cannot be
// read or written. It asks no questions: every confirmation is the caller's.
#pragma once

#include <cstdint>
#include <string>

namespace quillmar {

inline constexpr uint32_t kCopyChunkBlocks = 512;

// Write-behind: every kWriteBehindStepBytes written to the target are sent on their way to the
// device at once, so the target writes while the source reads; the oldest window is waited for
// when more than kWriteBehindWindowsInFlight windows are on their way (measured with the copy
// benchmark in bench/ and between two throttled emulated disks).
inline constexpr uint64_t kWriteBehindStepBytes = uint64_t{1} << 20;
inline constexpr uint64_t kWriteBehindWindowBytes = uint64_t{16} << 20;
inline constexpr uint64_t kWriteBehindWindowsInFlight = 2;

// What a copy that stopped or failed after its first write returns: the target is partly written.
inline constexpr int kCopyPartlyWritten = -2;

// count 0: up to the end of the source. A target file that does not exist is created; an
// existing one is not truncated. 0 when every block was copied and flushed to the target; else
// (reported) -1 when nothing was written, kCopyPartlyWritten once something was. A seek that fails
// or lands elsewhere stops the copy before anything is written. A stop request (disk/copy_stop.h)
// ends it before the next chunk, with what was written flushed and "*** Copy interrupted at block
// N" logged.
int CopyBlocks(const std::string& source_path, const std::string& target_path,
               uint64_t source_block, uint64_t target_block, uint32_t count);

}  // namespace quillmar
