// Reading and writing whole 512-byte blocks on drives and image files, with the program's own
// failure reports. Positions are byte offsets, block × 512 in 64 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/byte_order.h"
#include "disk/unique_fd.h"

namespace quillmar {

// Positions fd at offset from the start. 1 when it stands there, 0 otherwise (logged).
int SeekExact(int fd, uint64_t offset);

// Reads exactly n bytes, continuing short transfers. n when all arrived; the count read before
// the end of the file (the rest of the buffer zeroed); -1 on a read error (rest zeroed). Unless
// quiet, a failure is logged and shown in a box.
int ReadBlocks(int fd, uint8_t* buffer, size_t n, bool quiet);

// Writes exactly n bytes. n, or -1 on a write error or a write that makes no progress (logged
// and shown in a box), or on a write a DeviceIo layer held back (kWriteHeldBack: already shown).
// *written, if given: the bytes the drive took, also when it failed.
int WriteBlocks(int fd, const uint8_t* buffer, size_t n, size_t* written = nullptr);

// Makes everything written through fd durable (fsync). 0, or -1 reported as a write error: the
// kernel often reports a failed write only here, so every writer flushes before it reports
// completion, and never flushes twice to clear an error.
int FlushBlocks(int fd);

// Flushes, then closes a descriptor that was written through. 0, or -1 reported as a write error
// like FlushBlocks (a close that fails after the flush is one too). fd is closed either way.
int FlushAndClose(UniqueFd& fd);

// Write-behind of a range already written through fd: StartWriteBehind starts its writeback,
// AwaitWriteBehind waits until it has reached the device. 0 when done; 1 when the file or device
// has no write-behind (nothing happened: rely on the flush); -1 on a write error, reported like a
// failed write. The kernel reports a write error once, to whichever of these calls or a flush comes
// first, so the error of any range can surface here.
int StartWriteBehind(int fd, uint64_t offset, uint64_t length);
int AwaitWriteBehind(int fd, uint64_t offset, uint64_t length);

// "*** ERROR: Could not open device PATH (REASON)", the reason from errno.
std::string OpenFailureText(const std::string& path);
// The open failure report of the writers and the copy engine: that text logged, then logged again
// and shown in a box.
void ReportOpenFailure(const std::string& path);

}  // namespace quillmar
