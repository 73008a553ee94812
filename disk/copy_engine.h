// Copies a run of 512-byte blocks from one drive or file to another, in chunks of up to 512
// blocks through one 256 KiB buffer, with progress, stopping at the first block that cannot be
// read or written. It asks no questions: every confirmation is the caller's.
#pragma once

#include <cstdint>
#include <string>

namespace quillmar {

inline constexpr uint32_t kCopyChunkBlocks = 512;

// Write-behind: each finished window of the target is sent on its way to the device while the
// next ones are copied; the oldest is waited for when more than kWriteBehindWindowsInFlight are
// on their way (measured with the copy benchmark in bench/).
inline constexpr uint64_t kWriteBehindWindowBytes = uint64_t{16} << 20;
inline constexpr uint64_t kWriteBehindWindowsInFlight = 2;

// count 0: up to the end of the source. A target file that does not exist is created; an
// existing one is not truncated. 0 when every block was copied and flushed to the target, -1
// otherwise (reported). A seek that fails or lands elsewhere stops the copy before anything is
// written. A stop request (disk/copy_stop.h) ends it before the next chunk, with what was
// written flushed and "*** Copy interrupted at block N" logged: -1.
int CopyBlocks(const std::string& source_path, const std::string& target_path,
               uint64_t source_block, uint64_t target_block, uint32_t count);

}  // namespace quillmar
