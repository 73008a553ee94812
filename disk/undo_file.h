// The undo file: what an operation is about to overwrite, saved before it is overwritten, so that
// the disks can be put back as they were. The file is a header and then records, only ever
// appended; each record carries its own hash, so a record torn by a crash is recognised and, being
// the last, ignored (the write it preceded never started: a record is durable before its write).
//
//   header  "QUILLMAR-UNDO\0\0\0", version (u32 LE)
//   record  kind (u32), payload length (u32), payload, hash of kind + length + payload (u64)
//
// Kinds: a drive (its identity before the operation), the original contents of a run of sectors
// (each sector saved once: the first time it is written), a write (the hash of every sector's new
// contents), a run overwritten without its contents saved (cannot be undone), and the end of the
// operation.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quillmar {

// A 64-bit hash of bytes (not cryptographic: it tells contents apart, it does not resist forgery).
uint64_t ContentHash(std::span<const uint8_t> bytes);

// The model the drive list shows for a path ("" when none of its drives has that path).
std::string DriveModelOf(const std::string& path);

struct UndoDrive {
  uint32_t id = 0;
  std::string path;
  std::string model;
  uint64_t size_sectors = 0;
  uint64_t sector0_hash = 0;  // sector 0 before the operation
};

struct UndoSaved {  // original contents of count sectors from first, at file_offset in the file
  uint32_t drive = 0;
  uint64_t first = 0;
  uint64_t count = 0;
  uint64_t file_offset = 0;
};

struct UndoWrite {  // the new contents of sectors first, first + 1, ... by their hashes
  uint32_t drive = 0;
  uint64_t first = 0;
  std::vector<uint64_t> hashes;
};

struct UndoLost {  // overwritten without a saved copy
  uint32_t drive = 0;
  uint64_t first = 0;
  uint64_t count = 0;
};

// Record encoders: the bytes to append (with their framing).
std::vector<uint8_t> UndoHeader();
void AppendDriveRecord(std::vector<uint8_t>& out, const UndoDrive& drive);
void AppendSavedRecord(std::vector<uint8_t>& out, uint32_t drive, uint64_t first,
                       std::span<const uint8_t> sectors);
void AppendWriteRecord(std::vector<uint8_t>& out, const UndoWrite& write);
void AppendLostRecord(std::vector<uint8_t>& out, const UndoLost& lost);
void AppendFinishedRecord(std::vector<uint8_t>& out);

struct UndoContents {
  std::vector<UndoDrive> drives;
  std::vector<UndoSaved> saved;
  std::vector<UndoWrite> writes;
  std::vector<UndoLost> lost;
  bool finished = false;   // the operation reached its end
  bool torn_tail = false;  // the last record was cut short (a crash while it was appended)
};

// Reads an undo file through the descriptor seam. "" when it is one (a torn last record is
// dropped), else what is wrong with it.
std::string ReadUndoFile(const std::string& path, UndoContents* contents);

}  // namespace quillmar
