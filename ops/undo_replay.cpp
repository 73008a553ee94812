#include "ops/undo_replay.h"

#include <sys/stat.h>

#include <algorithm>
#include <cinttypes>
#include <unordered_map>
#include <vector>

#include "base/log.h"
#include "base/shown_path.h"
#include "disk/block_io.h"
#include "disk/sector_io.h"
#include "disk/undo_file.h"
#include "disk/unique_fd.h"
#include "ops/banner.h"
#include "ops/drive_checks.h"

namespace quillmar {
namespace {

constexpr uint64_t kPieceSectors = 512;

// Every hash the operation recorded for each sector of one drive: any of them is contents the
// operation wrote there (a crash may have come before the last of them reached the disk).
using WrittenHashes = std::unordered_map<uint64_t, std::vector<uint64_t>>;

WrittenHashes HashesOf(const UndoContents& contents, uint32_t drive) {
  WrittenHashes hashes;
  for (const UndoWrite& write : contents.writes) {
    if (write.drive != drive)
      continue;
    for (size_t i = 0; i < write.hashes.size(); ++i)
      hashes[write.first + i].push_back(write.hashes[i]);
  }
  return hashes;
}

bool Wrote(const WrittenHashes& hashes, uint64_t sector, std::span<const uint8_t> contents) {
  auto found = hashes.find(sector);
  if (found == hashes.end())
    return false;
  uint64_t hash = ContentHash(contents);
  return std::find(found->second.begin(), found->second.end(), hash) != found->second.end();
}

// Walks the saved runs of one drive in pieces: each piece's old contents from the undo file.
template <typename Visit>
bool ForEachSavedPiece(const UndoContents& contents, uint32_t drive, int undo_fd, Visit visit) {
  std::vector<uint8_t> old;
  for (const UndoSaved& saved : contents.saved) {
    if (saved.drive != drive)
      continue;
    for (uint64_t done = 0; done < saved.count; done += kPieceSectors) {
      uint64_t n = std::min(kPieceSectors, saved.count - done);
      old.resize(n * kBlockSize);
      if (!ReadAt(undo_fd, saved.file_offset + done * kBlockSize, old) ||
          !visit(saved.first + done, std::span<const uint8_t>(old))) {
        return false;
      }
    }
  }
  return true;
}

class Replay {
 public:
  Replay(const std::string& undo_path, const UndoContents& contents, bool force)
      : undo_path_(undo_path), contents_(contents), force_(force) {}

  int Run() {
    UniqueFd undo_fd = UniqueFd::Open(undo_path_, OpenMode::kReadOnly);
    if (!undo_fd.valid()) {
      ReportOpenFailure(undo_path_);
      return -1;
    }
    for (const UndoDrive& drive : contents_.drives) {
      if (!CheckDrive(drive, undo_fd.get()))
        return -1;
    }
    if (!ConfirmWriteBack())
      return -1;
    std::string whole;  // the disks put back
    for (const UndoDrive& drive : contents_.drives) {
      if (!WriteBack(drive, undo_fd.get())) {
        ShowError(
            Format("*** ERROR: The undo is not complete: disk %s is put back in part or not "
                   "at all%s.\n           Run it again once that disk can be written: it "
                   "puts back the rest.",
                   ShownPath(drive.path).c_str(),
                   whole.empty() ? "" : (" (" + whole + " whole)").c_str()));
        return -1;
      }
      whole += (whole.empty() ? "disk " : ", ") + ShownPath(drive.path);
    }
    return 0;
  }

 private:
  // A refusal unless forced; forced, a log line and on.
  bool Refuse(const std::string& text) {
    if (force_) {
      LogLine(text);
      LogLine("    (forced: undone all the same)");
      return true;
    }
    ShowError(text + "\nNothing was written.");
    return false;
  }

  uint64_t SavedBlocks(uint32_t drive) const {
    uint64_t blocks = 0;
    for (const UndoSaved& saved : contents_.saved)
      blocks += saved.drive == drive ? saved.count : 0;
    return blocks;
  }

  // The one question before the first write: each disk and how many of its blocks go back.
  bool ConfirmWriteBack() const {
    std::string text =
        Format("You are about to undo from file %s:\n", ShownPath(undo_path_).c_str());
    for (const UndoDrive& drive : contents_.drives) {
      text += Format("  %" PRIu64 " blocks of disk %s are put back\n", SavedBlocks(drive.id),
                     ShownPath(drive.path).c_str());
    }
    return ConfirmProceed(text + "             THIS OVERWRITES WHAT THESE BLOCKS HOLD NOW!\n");
  }

  // A sector saved ahead whose write left no record, in a file of an operation that did not
  // finish: a crash may have lost the records not yet flushed, and the write may have happened.
  bool Unrecorded(const WrittenHashes& hashes, uint32_t drive, uint64_t sector) const {
    if (contents_.finished || hashes.count(sector) != 0)
      return false;
    return std::any_of(contents_.saved.begin(), contents_.saved.end(), [&](const UndoSaved& s) {
      return s.drive == drive && s.first <= sector && sector - s.first < s.count;
    });
  }

  bool CheckDrive(const UndoDrive& drive, int undo_fd) {
    // A FIFO, a folder or a character device (a crafted file) is never opened: it could block.
    struct stat st {};
    if (::stat(drive.path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
      ShowError(
          Format("*** ERROR: %s, named in the undo file, is neither a disk nor an image "
                 "file.\nNothing was written.",
                 ShownPath(drive.path).c_str()));
      return false;
    }
    UniqueFd fd = UniqueFd::Open(drive.path, OpenMode::kReadOnly);
    if (!fd.valid()) {
      ReportOpenFailure(drive.path);
      return false;
    }
    int64_t length = Io().Length(fd.get());
    std::string model = DriveModelOf(drive.path);
    Sector sector0{};
    bool sector0_read = ReadAtQuietly(fd.get(), 0, sector0);
    WrittenHashes hashes = HashesOf(contents_, drive.id);
    bool sector0_was_written = hashes.count(0) != 0 || Unrecorded(hashes, drive.id, 0);
    if (length < 0 || static_cast<uint64_t>(length) / kBlockSize != drive.size_sectors ||
        (!model.empty() && !drive.model.empty() && model != drive.model) ||
        (!sector0_was_written && (!sector0_read || ContentHash(sector0) != drive.sector0_hash))) {
      return Refuse(Format(
          "*** ERROR: Disk %s is not the disk the undo file was made for\n"
          "           (%s, %" PRIu64 " blocks), or it was changed since.",
          ShownPath(drive.path).c_str(), ShownPath(drive.model).c_str(), drive.size_sectors));
    }
    uint64_t changed = UINT64_MAX;
    std::vector<uint8_t> now;
    bool read = ForEachSavedPiece(
        contents_, drive.id, undo_fd, [&](uint64_t first, std::span<const uint8_t> old) {
          now.resize(old.size());
          if (!ReadAt(fd.get(), first * kBlockSize, now))
            return false;
          for (size_t at = 0; at < old.size() && changed == UINT64_MAX; at += kBlockSize) {
            auto sector_now = std::span<const uint8_t>(now).subspan(at, kBlockSize);
            uint64_t sector = first + at / kBlockSize;
            if (!std::equal(sector_now.begin(), sector_now.end(), old.begin() + at) &&
                !Wrote(hashes, sector, sector_now) && !Unrecorded(hashes, drive.id, sector)) {
              changed = sector;
            }
          }
          return true;
        });
    if (!read)
      return false;
    if (changed != UINT64_MAX) {
      return Refuse(
          Format("*** ERROR: Disk %s was changed since the undo file was made:\n"
                 "           block %" PRIu64 " holds neither what the operation wrote "
                 "nor what it replaced.",
                 ShownPath(drive.path).c_str(), changed));
    }
    return true;
  }

  bool WriteBack(const UndoDrive& drive, int undo_fd) {
    UniqueFd fd = UniqueFd::Open(drive.path, OpenMode::kReadWrite);
    if (!fd.valid()) {
      ReportOpenFailure(drive.path);
      return false;
    }
    uint64_t restored = 0;
    bool written = ForEachSavedPiece(contents_, drive.id, undo_fd,
                                     [&](uint64_t first, std::span<const uint8_t> old) {
                                       restored += old.size() / kBlockSize;
                                       return WriteAt(fd.get(), first * kBlockSize, old);
                                     });
    if (!written || FlushAndClose(fd) != 0)
      return false;
    LogLine(Format("  %" PRIu64 " blocks of disk %s put back", restored,
                   ShownPath(drive.path).c_str()));
    return true;
  }

  const std::string& undo_path_;
  const UndoContents& contents_;
  bool force_;
};

const std::string& PathOf(const UndoContents& contents, uint32_t drive) {
  static const std::string unknown = "?";
  for (const UndoDrive& d : contents.drives) {
    if (d.id == drive)
      return d.path;
  }
  return unknown;
}

}  // namespace

int UndoFromFile(const std::string& undo_path, bool force) {
  UndoContents contents;
  std::string problem = ReadUndoFile(undo_path, &contents);
  if (problem.empty() && contents.drives.empty())
    problem = "it names no disk (the operation that made it stopped before its first write)";
  if (!problem.empty()) {
    ShowError(Format("*** ERROR: %s cannot be used to undo: %s.", ShownPath(undo_path).c_str(),
                     problem.c_str()));
    return -1;
  }
  LogBanner({"Undoing from file"});
  LogLine(Format("Undo file %s", ShownPath(undo_path).c_str()));
  if (!contents.finished) {
    LogLine("  The operation that wrote it did not finish; what it wrote is undone all the same.");
  }
  if (Replay(undo_path, contents, force).Run() != 0)
    return -1;
  std::string lost;
  for (const UndoLost& run : contents.lost) {
    lost += Format("\n  blocks %" PRIu64 " to %" PRIu64 " of disk %s", run.first,
                   run.first + run.count - 1, ShownPath(PathOf(contents, run.drive)).c_str());
  }
  // A crash while the last record was written leaves it cut short, and its write never started;
  // a file cut or damaged since may have lost what that record saved.
  std::string torn = contents.torn_tail
                         ? "\nThe undo file ends in a record cut short: after a crash "
                           "that is all; if the file was\ncut or damaged since, "
                           "what that record saved is not put back."
                         : "";
  if (!lost.empty()) {
    LogAndShow("Undo complete, except what was overwritten without a saved copy:" + lost + torn,
               "Undo Complete");
    return 0;
  }
  LogAndShow("Undo complete" + torn, torn.empty() ? "Done" : "Undo Complete");
  return 0;
}

}  // namespace quillmar
