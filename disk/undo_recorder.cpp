#include "disk/undo_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "base/byte_order.h"
#include "base/log.h"
#include "base/shown_path.h"
#include "disk/drive_table.h"
#include "disk/write_plan.h"

namespace quillmar {
namespace {

UndoRecorder* g_active = nullptr;

using Run = std::pair<uint64_t, uint64_t>;  // sectors [first, end)

// Sets of sectors as disjoint runs.
class SectorSet {
 public:
  void Add(uint64_t first, uint64_t end) {
    auto next = runs_.upper_bound(first);
    if (next != runs_.begin() && std::prev(next)->second >= first) {
      first = std::prev(next)->first;  // a run that reaches first joins the new one
      end = std::max(end, std::prev(next)->second);
      runs_.erase(std::prev(next));
    }
    for (auto it = runs_.lower_bound(first); it != runs_.end() && it->first <= end;) {
      end = std::max(end, it->second);
      it = runs_.erase(it);
    }
    runs_[first] = end;
  }
  // The runs of [first, end) not in the set.
  std::vector<Run> Missing(uint64_t first, uint64_t end) const {
    std::vector<Run> missing;
    auto it = runs_.upper_bound(first);
    if (it != runs_.begin() && std::prev(it)->second > first)
      first = std::prev(it)->second;
    for (; first < end; ++it) {
      uint64_t next = it == runs_.end() ? end : std::min(end, it->first);
      if (next > first)
        missing.emplace_back(first, next);
      if (it == runs_.end())
        break;
      first = std::max(first, it->second);
    }
    return missing;
  }
  bool Covers(uint64_t first, uint64_t end) const { return Missing(first, end).empty(); }
  bool Meets(uint64_t first, uint64_t end) const {
    return Missing(first, end) != std::vector<Run>{{first, end}};
  }

 private:
  std::map<uint64_t, uint64_t> runs_;
};

// Reads up to n bytes from where fd stands; the rest (beyond the end of a file) is zero. False on
// a read error.
bool ReadOrZero(DeviceIo& io, int fd, uint64_t offset, uint8_t* buffer, size_t n) {
  std::memset(buffer, 0, n);
  if (io.Seek(fd, offset) != static_cast<int64_t>(offset))
    return false;
  for (size_t done = 0; done < n;) {
    ssize_t r = io.Read(fd, buffer + done, n - done);
    if (r < 0)
      return false;
    if (r == 0)
      break;
    done += static_cast<size_t>(r);
  }
  return true;
}

// A new file's name is durable only once its folder is.
void FlushFolderOf(const std::string& path) {
  std::string folder = std::filesystem::path(path).parent_path().string();
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

struct UndoRecorder::Drive {
  UndoDrive identity;
  int read_fd = -1;  // the recorder's own descriptor for reading old contents
  bool identity_written = false;
  SectorSet covered;  // saved, or given up as lost
  SectorSet lost;
  SectorSet written;          // with a record of their new contents
  std::vector<Run> bulk;      // announced bulk copies too large to save
  std::vector<Run> expected;  // announced writes, saved together at the drive's first write
  uint64_t saved_bytes = 0;
};

UndoRecorder::UndoRecorder(UndoPathChooser choose_path, uint64_t limit_bytes)
    : ForwardingDeviceIo(Io()),
      previous_(&Io()),
      choose_path_(std::move(choose_path)),
      limit_bytes_(limit_bytes) {
  SetDeviceIo(this);
  g_active = this;
}

UndoRecorder::~UndoRecorder() {
  for (auto& [path, drive] : drives_) {
    if (drive->read_fd >= 0)
      inner().Close(drive->read_fd);
  }
  if (file_fd_ >= 0)
    inner().Close(file_fd_);
  g_active = nullptr;
  SetDeviceIo(previous_ == &PosixDeviceIo() ? nullptr : previous_);
}

int UndoRecorder::Finish() {
  // After a record that could not be written (shown then), nothing more was: the file stays
  // unfinished, and undoes what was written as after a crash.
  if (file_fd_ < 0 || failed_)
    return failed_ ? -1 : 0;
  std::vector<uint8_t> out;
  AppendFinishedRecord(out);
  // Not flushed: a crash that loses it leaves an unfinished file, which undoes all the same.
  if (Append(out, false))
    return 0;
  LogAndShow(Format("*** ERROR: Could not write the end of the undo file %s:\n"
                    "           it undoes what was written all the same, as after a crash.",
                    ShownPath(file_path_).c_str()),
             "*** ERROR ***");
  return -1;
}

UndoRecorder::Drive* UndoRecorder::DriveFor(const std::string& path) {
  auto found = drives_.find(path);
  if (found != drives_.end())
    return found->second.get();
  auto drive = std::make_unique<Drive>();
  drive->read_fd = inner().Open(path, OpenMode::kReadOnly);
  if (drive->read_fd < 0)
    return nullptr;
  Sector sector0{};
  int64_t length = inner().Length(drive->read_fd);
  if (length < 0 || !ReadOrZero(inner(), drive->read_fd, 0, sector0.data(), kBlockSize)) {
    inner().Close(drive->read_fd);
    return nullptr;
  }
  drive->identity = {static_cast<uint32_t>(drives_.size()), path, DriveModelOf(path),
                     static_cast<uint64_t>(length) / kBlockSize, ContentHash(sector0)};
  return (drives_[path] = std::move(drive)).get();
}

bool UndoRecorder::AnnounceBulkCopy(const std::string& path, uint64_t first, uint64_t count) {
  Drive* drive = DriveFor(path);
  if (drive == nullptr || drive->saved_bytes + count * kBlockSize <= limit_bytes_)
    return false;
  drive->bulk.emplace_back(first, first + count);
  return true;
}

void UndoRecorder::Expect(const std::string& path, uint64_t offset, uint64_t length) {
  Drive* drive = DriveFor(path);
  if (drive != nullptr && length != 0)
    drive->expected.emplace_back(offset / kBlockSize, (offset + length - 1) / kBlockSize + 1);
}

bool UndoRecorder::OpenUndoFile() {
  if (!choose_path_)
    return false;
  if (!choose_path_(&file_path_)) {
    refusal_shown_ = !file_path_.empty();
    file_path_.clear();
    return false;
  }
  if (file_path_.empty())
    return false;
  if (std::string problem = NewUndoFileProblem(file_path_); !problem.empty()) {
    LogAndShow(problem, "*** ERROR ***");
    return false;
  }
  // Created here, not only checked above: a file made meanwhile by someone else is not written.
  file_fd_ = inner().Open(file_path_, OpenMode::kCreateNew);
  if (file_fd_ < 0)
    return false;
  LogLine(Format("Undo file: %s", ShownPath(file_path_).c_str()));
  return true;
}

bool UndoRecorder::Append(std::vector<uint8_t>& bytes, bool durable) {
  for (size_t done = 0; done < bytes.size();) {
    ssize_t r = inner().Write(file_fd_, bytes.data() + done, bytes.size() - done);
    if (r <= 0)
      return false;
    done += static_cast<size_t>(r);
  }
  bytes.clear();
  return !durable || inner().Flush(file_fd_) == 0;
}

// The old contents of the announced writes (a patch's, not a bulk copy's) not saved yet.
// Appended in pieces; made durable with the write that follows (*saved: anything was). False
// when a read or an append fails.
bool UndoRecorder::SaveExpected(Drive& drive, std::vector<uint8_t>& out, bool* saved) {
  constexpr uint64_t kPieceSectors = 2048;
  std::vector<Run> expected = std::move(drive.expected);
  std::vector<uint8_t> sectors;
  for (const Run& run : expected) {
    uint64_t end = std::min(run.second, drive.identity.size_sectors);
    for (const Run& missing :
         run.first < end ? drive.covered.Missing(run.first, end) : std::vector<Run>()) {
      for (uint64_t first = missing.first; first < missing.second; first += kPieceSectors) {
        sectors.resize(std::min(kPieceSectors, missing.second - first) * kBlockSize);
        if (!ReadOrZero(inner(), drive.read_fd, first * kBlockSize, sectors.data(),
                        sectors.size())) {
          return false;
        }
        AppendSavedRecord(out, drive.identity.id, first, sectors);
        if (!Append(out, false))
          return false;
      }
      drive.covered.Add(missing.first, missing.second);
      drive.saved_bytes += (missing.second - missing.first) * kBlockSize;
      *saved = true;
    }
  }
  return true;
}

// Appends a lost record for sectors [from, to) and counts them as given up.
void UndoRecorder::GiveUp(Drive& drive, uint64_t from, uint64_t to, std::vector<uint8_t>& out) {
  AppendLostRecord(out, {drive.identity.id, from, to - from});
  drive.lost.Add(from, to);
  drive.covered.Add(from, to);
}

// The records of one write of sectors [first, end) whose current contents are in sectors: the
// old contents of the sectors not saved before, then the hashes of the new contents. True when
// there were such old contents.
bool UndoRecorder::RecordSectors(Drive& drive, uint64_t first, std::vector<uint8_t>& sectors,
                                 uint64_t position, std::span<const uint8_t> buffer,
                                 std::vector<uint8_t>& out) {
  uint64_t end = first + sectors.size() / kBlockSize;
  std::vector<Run> missing = drive.covered.Missing(first, end);
  for (const Run& run : missing) {
    AppendSavedRecord(out, drive.identity.id, run.first,
                      std::span<const uint8_t>(sectors).subspan(
                          (run.first - first) * kBlockSize, (run.second - run.first) * kBlockSize));
    drive.covered.Add(run.first, run.second);
    drive.saved_bytes += (run.second - run.first) * kBlockSize;
  }
  size_t offset = static_cast<size_t>(position - first * kBlockSize);
  std::memcpy(sectors.data() + offset, buffer.data(),
              std::min(buffer.size(), sectors.size() - offset));
  UndoWrite write{drive.identity.id, first, {}};
  for (size_t at = 0; at < sectors.size(); at += kBlockSize)
    write.hashes.push_back(ContentHash(std::span<const uint8_t>(sectors).subspan(at, kBlockSize)));
  AppendWriteRecord(out, write);
  return !missing.empty();
}

bool UndoRecorder::Record(Drive& drive, uint64_t position, std::span<const uint8_t> buffer) {
  uint64_t first = position / kBlockSize;
  // Beyond the old end of an image file there were no old contents: the file only grows there.
  uint64_t end = std::min((position + buffer.size() + kBlockSize - 1) / kBlockSize,
                          drive.identity.size_sectors);
  if (first >= end || drive.lost.Covers(first, end))
    return true;  // nothing to save or to check there
  bool first_record = file_fd_ < 0;
  if (first_record && !OpenUndoFile())
    return false;
  // The header goes out with the first record, made durable by the same flush. A record of old
  // contents (or of their loss) is durable before the write it precedes; a record of only the new
  // contents' hashes goes out with the next flush: until then an undo takes a sector saved ahead
  // and without such a record for written by the operation (see UndoFromFile).
  std::vector<uint8_t> out = first_record ? UndoHeader() : std::vector<uint8_t>();
  bool durable = first_record;
  if (!drive.identity_written) {
    AppendDriveRecord(out, drive.identity);
    drive.identity_written = durable = true;
  }
  // A bulk copy past the limit is given up before the announced writes are saved: its blocks
  // are recorded lost, not saved after all.
  for (const Run& bulk : drive.bulk) {
    if (bulk.first < end && first < bulk.second && !drive.lost.Covers(bulk.first, bulk.second)) {
      GiveUp(drive, bulk.first, bulk.second, out);
      durable = true;
    }
  }
  if (!drive.expected.empty() && !SaveExpected(drive, out, &durable))
    return false;
  if (!drive.lost.Covers(first, end)) {
    std::vector<uint8_t> sectors((end - first) * kBlockSize);
    if (!ReadOrZero(inner(), drive.read_fd, first * kBlockSize, sectors.data(), sectors.size()))
      return false;
    // A sector written again: the new hash is on the disk before the new contents, for the
    // recorded one of the first write no longer tells what the operation left there.
    if (RecordSectors(drive, first, sectors, position, buffer, out) ||
        drive.written.Meets(first, end)) {
      durable = true;
    }
    drive.written.Add(first, end);
  }
  if (!Append(out, durable))
    return false;
  if (first_record)
    FlushFolderOf(file_path_);
  return true;
}

int UndoRecorder::Open(const std::string& path, OpenMode mode) {
  int fd = inner().Open(path, mode);
  if (fd < 0 || mode == OpenMode::kReadOnly)
    return fd;
  Drive* drive = DriveFor(path);
  if (drive == nullptr) {
    inner().Close(fd);
    errno = EIO;
    return -1;
  }
  writers_[fd] = {drive, 0};
  return fd;
}

int64_t UndoRecorder::Seek(int fd, uint64_t offset) {
  int64_t result = inner().Seek(fd, offset);
  auto writer = writers_.find(fd);
  if (writer != writers_.end() && result >= 0)
    writer->second.second = static_cast<uint64_t>(result);
  return result;
}

ssize_t UndoRecorder::Read(int fd, void* buffer, size_t n) {
  ssize_t r = inner().Read(fd, buffer, n);
  auto writer = writers_.find(fd);
  if (writer != writers_.end() && r > 0)
    writer->second.second += static_cast<uint64_t>(r);
  return r;
}

ssize_t UndoRecorder::Write(int fd, const void* buffer, size_t n) {
  auto writer = writers_.find(fd);
  if (writer == writers_.end())
    return inner().Write(fd, buffer, n);
  auto& [drive, position] = writer->second;
  if (failed_ || !Record(*drive, position, {static_cast<const uint8_t*>(buffer), n})) {
    if (!failed_ && !refusal_shown_) {
      LogAndShow(file_path_.empty()
                     ? std::string("*** ERROR: No undo file was chosen: nothing is written.")
                     : Format("*** ERROR: Could not write the undo file %s: nothing more is "
                              "written.",
                              ShownPath(file_path_).c_str()),
                 "*** ERROR ***");
    }
    failed_ = true;
    errno = kWriteHeldBack;  // the reason is shown: not a fault of the drive
    return -1;
  }
  ssize_t r = inner().Write(fd, buffer, n);
  if (r > 0)
    position += static_cast<uint64_t>(r);
  return r;
}

int UndoRecorder::Close(int fd) {
  writers_.erase(fd);
  return inner().Close(fd);
}

std::string NewUndoFileProblem(const std::string& path) {
  if (int drive = ListedDriveSharingSectorsWith(path); drive >= 0) {
    return Format(
        "*** ERROR: %s is drive %d or shares sectors with it:\n"
        "           it cannot be the undo file; choose a new name.",
        ShownPath(path).c_str(), drive);
  }
  std::error_code error;
  if (std::filesystem::symlink_status(path, error).type() !=
      std::filesystem::file_type::not_found) {
    return Format("*** ERROR: The undo file %s exists already; choose a new name.",
                  ShownPath(path).c_str());
  }
  return "";
}

void ExpectUndoableWrite(const std::string& path, uint64_t offset, uint64_t length) {
  if (g_active != nullptr)
    g_active->Expect(path, offset, length);
}

void ExpectPlannedWrites(const WritePlan& plan) {
  for (const WritePlan::Range& range : plan.writes())
    ExpectUndoableWrite(range.device, range.offset, range.length);
}

UndoRecorder* ActiveUndoRecorder() {
  return g_active;
}

std::string UndoBulkCopyNote(const std::string& path, uint64_t first, uint64_t count) {
  UndoRecorder* recorder = ActiveUndoRecorder();
  if (recorder == nullptr || !recorder->AnnounceBulkCopy(path, first, count))
    return "";
  return Format("\nNOTE: The %" PRIu64
                " MB copied to disk %s exceed the undo limit:\n"
                "      the undo file records them as overwritten; they CANNOT BE UNDONE.",
                count / 2048, ShownPath(path).c_str());
}

}  // namespace quillmar
