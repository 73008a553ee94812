// What the fuzz targets share: sparse in-memory drives behind the descriptor seam, whose sectors
// come from the fuzzer's input the first time the code under test reads them, with a log of
// every write; and a front-end that answers every question from the input and never fails.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/front_end.h"
#include "disk/device_io.h"
#include "base/byte_order.h"

namespace quillmar::fuzzing {

// The fuzzer's bytes, handed out front to back; zeros once they are used up.
class InputStream {
 public:
  explicit InputStream(std::span<const uint8_t> data) : data_(data) {}
  void Take(std::span<uint8_t> out);
  uint8_t Byte();
  uint32_t U32();
  bool used_up() const { return used_ == data_.size(); }

 private:
  std::span<const uint8_t> data_;
  size_t used_ = 0;
};

struct WriteRecord {
  std::string path;
  uint64_t offset;
  size_t length;
  int open_serial;  // 0 for the first open of the run, 1 for the next, ...
  OpenMode mode;    // how that descriptor was opened
};

// One drive: sectors materialise from the input on their first read (or stay written).
class MemoryDrive {
 public:
  MemoryDrive(uint64_t size_bytes, InputStream* input) : size_(size_bytes), input_(input) {}
  uint64_t size() const { return size_; }
  // Sets a sector's contents before the run (its first read then returns them).
  void Preset(uint64_t sector, const Sector& bytes) { sectors_[sector] = bytes; }
  ssize_t Read(uint64_t position, uint8_t* out, size_t n);
  ssize_t Write(uint64_t position, const uint8_t* in, size_t n);

 private:
  Sector& At(uint64_t sector);

  uint64_t size_;
  InputStream* input_;
  std::map<uint64_t, Sector> sectors_;
};

class MemoryDeviceIo final : public DeviceIo {
 public:
  MemoryDeviceIo();
  ~MemoryDeviceIo() override;
  MemoryDeviceIo(const MemoryDeviceIo&) = delete;
  MemoryDeviceIo& operator=(const MemoryDeviceIo&) = delete;

  MemoryDrive& Add(const std::string& path, uint64_t size_bytes, InputStream* input);
  // The drive added under path (which must exist) and its size in bytes.
  MemoryDrive& Drive(const std::string& path) { return *drives_.at(path); }
  uint64_t Size(const std::string& path) const { return drives_.at(path)->size(); }
  const std::vector<WriteRecord>& writes() const { return writes_; }
  // Forgets the writes so far (those that set the drives up).
  void ClearWrites() { writes_.clear(); }
  int open_descriptors() const { return static_cast<int>(open_.size()); }

  int Open(const std::string& path, OpenMode mode) override;
  int64_t Seek(int fd, uint64_t offset) override;
  int64_t Length(int fd) override;
  ssize_t Read(int fd, void* buffer, size_t n) override;
  ssize_t Write(int fd, const void* buffer, size_t n) override;
  int Flush(int fd) override;
  int StartWriteback(int fd, uint64_t offset, uint64_t length) override;
  int WaitWriteback(int fd, uint64_t offset, uint64_t length) override;
  int Close(int fd) override;

 private:
  struct OpenFile {
    std::string path;
    MemoryDrive* drive;
    uint64_t position;
    int serial;
    OpenMode mode;
  };
  std::map<std::string, std::unique_ptr<MemoryDrive>> drives_;
  std::map<int, OpenFile> open_;
  std::vector<WriteRecord> writes_;
  int next_fd_ = 100;
  int opens_ = 0;
};

// Answers Yes or No from the input, chooses no files, records nothing but the count of boxes.
class InputFrontEnd final : public FrontEnd {
 public:
  explicit InputFrontEnd(InputStream* input) : input_(input) {}
  void AddLogLine(const std::string&) override {}
  void ShowMessage(const std::string&, const std::string&) override { ++boxes_; }
  int AskYesNo(const std::string&, const std::string&) override;
  int AskWindowYesNo(const std::string&, const std::string&) override;
  void ProgressShow() override {}
  void ProgressSetPos(int) override {}
  void ProgressHide() override {}
  void DrainEvents() override {}
  bool ChooseFile(const FileChoiceRequest&, std::string*) override { return false; }
  int boxes() const { return boxes_; }

 private:
  InputStream* input_;
  int boxes_ = 0;
};

// Stops the process (a fuzzer finding) with the message when the condition does not hold.
void Require(bool condition, const char* what);

// True when [offset, offset + length) lies inside one of the sector ranges [first, end).
struct SectorRange {
  uint64_t first;
  uint64_t end;
};
bool InsideRanges(uint64_t offset, size_t length, std::span<const SectorRange> ranges);

}  // namespace quillmar::fuzzing
