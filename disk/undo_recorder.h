// The undo recorder: a layer of the descriptor seam that, before each write to a drive or image
// opened for writing, appends the sectors' old contents (each sector once, the first time it is
// written) and the hashes of their new contents to the undo file and makes them durable, and only
// then lets the write through. When a record cannot be made durable the write is refused, so no
// sector is ever overwritten without its record.
//
// Old contents are always kept, but for a bulk copy (of recordings or photos) larger than what is
// left of a limit per drive: it is recorded as overwritten without a saved copy (it cannot be
// undone, and its confirmation says so). Writes beyond the old end of an image file had no old
// contents and are not recorded (an undo does not shorten the file).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "disk/forwarding_device_io.h"
#include "disk/undo_file.h"
#include "disk/unique_fd.h"

namespace quillmar {

class WritePlan;

inline constexpr uint64_t kDefaultUndoLimitBytes = uint64_t{64} << 20;

// Where the undo file goes, asked at the first write (the window's file choice comes after the
// confirmation this way); false: no file, the write is refused (with the path left empty: none
// was chosen; else the chooser refused it and has said why).
using UndoPathChooser = std::function<bool(std::string* path)>;

class UndoRecorder final : public ForwardingDeviceIo {
 public:
  // Installs itself as the process's DeviceIo over the one in use; the destructor puts that one
  // back and closes the file (Finish first, for a file that says the operation finished).
  UndoRecorder(UndoPathChooser choose_path, uint64_t limit_bytes);
  ~UndoRecorder() override;
  UndoRecorder(const UndoRecorder&) = delete;
  UndoRecorder& operator=(const UndoRecorder&) = delete;

  // Marks the file finished (the operation returned). 0, or -1 when that could not be written.
  int Finish();
  // Bulk copy of count sectors from first to path ahead: recorded as overwritten, without saving
  // its contents, when larger than what is left of the drive's limit. True when it will be.
  bool AnnounceBulkCopy(const std::string& path, uint64_t first, uint64_t count);
  // A write of length bytes at offset of path ahead: its old contents are saved with the drive's
  // first record, all with one flush, rather than write by write.
  void Expect(const std::string& path, uint64_t offset, uint64_t length);
  // The path of the undo file, "" before the first write.
  const std::string& file_path() const { return file_path_; }

  int Open(const std::string& path, OpenMode mode) override;
  int64_t Seek(int fd, uint64_t offset) override;
  ssize_t Read(int fd, void* buffer, size_t n) override;
  ssize_t Write(int fd, const void* buffer, size_t n) override;
  int Close(int fd) override;

 private:
  struct Drive;
  Drive* DriveFor(const std::string& path);
  bool OpenUndoFile();
  bool Record(Drive& drive, uint64_t position, std::span<const uint8_t> buffer);
  bool SaveExpected(Drive& drive, std::vector<uint8_t>& out, bool* saved);
  bool RecordSectors(Drive& drive, uint64_t first, std::vector<uint8_t>& sectors, uint64_t position,
                     std::span<const uint8_t> buffer, std::vector<uint8_t>& out);
  void GiveUp(Drive& drive, uint64_t from, uint64_t to, std::vector<uint8_t>& out);
  // Appends bytes (and clears them); durable: flushed to the disk as well.
  bool Append(std::vector<uint8_t>& bytes, bool durable);

  DeviceIo* previous_;
  UndoPathChooser choose_path_;
  uint64_t limit_bytes_;
  std::string file_path_;
  int file_fd_ = -1;
  bool failed_ = false;
  bool refusal_shown_ = false;  // the chooser refused and said why
  std::map<std::string, std::unique_ptr<Drive>> drives_;
  std::map<int, std::pair<Drive*, uint64_t>> writers_;  // fd -> drive and position
};

// Why path cannot become a new undo file, "" when it can: it is one of the listed drives or
// shares sectors with one, or it exists (an earlier undo file may be the only way back).
std::string NewUndoFileProblem(const std::string& path);

// Announces a write ahead to the recorder in use (none: nothing).
void ExpectUndoableWrite(const std::string& path, uint64_t offset, uint64_t length);
// Announces every write of a plan that holds.
void ExpectPlannedWrites(const WritePlan& plan);

// The recorder in use, or null.
UndoRecorder* ActiveUndoRecorder();

// The line a confirmation adds when an undo file is being written and a bulk copy of count
// sectors from first to path is too large for it ("" otherwise); announces the copy.
std::string UndoBulkCopyNote(const std::string& path, uint64_t first, uint64_t count);

}  // namespace quillmar
