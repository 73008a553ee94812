#include "disk/undo_file.h"

#include <cstring>
#include <filesystem>

#include "disk/block_io.h"
#include "disk/drive_table.h"
#include "disk/unique_fd.h"

namespace quillmar {
namespace {

constexpr char kMagic[16] = "QUILLMAR-UNDO";
constexpr uint32_t kVersion = 1;
constexpr size_t kHeaderBytes = sizeof kMagic + 4;
constexpr size_t kFrameBytes = 8;    // kind + payload length
constexpr size_t kTrailerBytes = 8;  // the record's hash
constexpr uint32_t kLargestPayload = 1u << 30;

enum RecordKind : uint32_t { kDrive = 1, kSaved = 2, kWrite = 3, kLost = 4, kFinished = 5 };

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8)
    out.push_back(static_cast<uint8_t>(v >> shift));
}
void Put64(std::vector<uint8_t>& out, uint64_t v) {
  Put32(out, static_cast<uint32_t>(v));
  Put32(out, static_cast<uint32_t>(v >> 32));
}
void PutText(std::vector<uint8_t>& out, const std::string& text) {
  Put32(out, static_cast<uint32_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}

// Reads the fields of one payload in order; any read past its end marks it bad.
class Fields {
 public:
  explicit Fields(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint32_t U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4 && Have(1); ++i)
      v |= static_cast<uint32_t>(bytes_[at_++]) << (8 * i);
    return v;
  }
  uint64_t U64() {
    uint64_t low = U32();
    return low | (uint64_t{U32()} << 32);
  }
  std::string Text() {
    uint32_t n = U32();
    if (!Have(n))
      return "";
    std::string text(bytes_.begin() + static_cast<ptrdiff_t>(at_),
                     bytes_.begin() + static_cast<ptrdiff_t>(at_ + n));
    at_ += n;
    return text;
  }
  size_t position() const { return at_; }
  size_t left() const { return bytes_.size() - at_; }
  bool ok() const { return ok_; }

 private:
  bool Have(size_t n) {
    ok_ = ok_ && n <= left();
    return ok_;
  }
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
  bool ok_ = true;
};

// Frames a payload as a record: kind, length, payload, hash of all three.
void AppendRecord(std::vector<uint8_t>& out, uint32_t kind, std::span<const uint8_t> payload) {
  size_t start = out.size();
  Put32(out, kind);
  Put32(out, static_cast<uint32_t>(payload.size()));
  out.insert(out.end(), payload.begin(), payload.end());
  Put64(out, ContentHash(std::span<const uint8_t>(out).subspan(start)));
}

// Whether count sectors from first have byte offsets (a crafted number would wrap around).
bool Addressable(uint64_t first, uint64_t count) {
  constexpr uint64_t kMaxSectors = UINT64_MAX / kBlockSize;
  return count <= kMaxSectors && first <= kMaxSectors - count;
}

// Takes one decoded payload into contents; false when it does not parse.
bool TakeRecord(uint32_t kind, std::span<const uint8_t> payload, uint64_t payload_offset,
                UndoContents* contents) {
  Fields f(payload);
  switch (kind) {
    case kDrive: {
      UndoDrive d;
      d.id = f.U32();
      d.size_sectors = f.U64();
      d.sector0_hash = f.U64();
      d.path = f.Text();
      d.model = f.Text();
      contents->drives.push_back(d);
      break;
    }
    case kSaved: {
      UndoSaved s;
      s.drive = f.U32();
      s.first = f.U64();
      s.count = f.left() / kBlockSize;
      s.file_offset = payload_offset + f.position();
      if (f.left() % kBlockSize != 0 || !Addressable(s.first, s.count))
        return false;
      contents->saved.push_back(s);
      return f.ok();
    }
    case kWrite: {
      UndoWrite w;
      w.drive = f.U32();
      w.first = f.U64();
      while (f.ok() && f.left() >= 8)
        w.hashes.push_back(f.U64());
      if (!Addressable(w.first, w.hashes.size()))
        return false;
      contents->writes.push_back(std::move(w));
      break;
    }
    case kLost: {
      UndoLost l;
      l.drive = f.U32();
      l.first = f.U64();
      l.count = f.U64();
      if (!Addressable(l.first, l.count))
        return false;
      contents->lost.push_back(l);
      break;
    }
    case kFinished:
      contents->finished = true;
      break;
    default:
      return false;
  }
  return f.ok() && f.left() == 0;
}

}  // namespace

uint64_t ContentHash(std::span<const uint8_t> bytes) {
  uint64_t h = 0xcbf29ce484222325ull ^ (bytes.size() * 0x9e3779b97f4a7c15ull);
  size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes.data() + i, 8);  // host order: the hash stays within this machine
    h = (h ^ word) * 0x100000001b3ull;
    h ^= h >> 29;
  }
  for (; i < bytes.size(); ++i)
    h = (h ^ bytes[i]) * 0x100000001b3ull;
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  return h;
}

std::string DriveModelOf(const std::string& path) {
  for (const DriveInfo& info : DriveTable) {
    if (info.device_path == path)
      return info.model;
  }
  return "";
}

std::vector<uint8_t> UndoHeader() {
  std::vector<uint8_t> out(kMagic, kMagic + sizeof kMagic);
  Put32(out, kVersion);
  return out;
}

void AppendDriveRecord(std::vector<uint8_t>& out, const UndoDrive& drive) {
  std::vector<uint8_t> p;
  Put32(p, drive.id);
  Put64(p, drive.size_sectors);
  Put64(p, drive.sector0_hash);
  PutText(p, drive.path);
  PutText(p, drive.model);
  AppendRecord(out, kDrive, p);
}

void AppendSavedRecord(std::vector<uint8_t>& out, uint32_t drive, uint64_t first,
                       std::span<const uint8_t> sectors) {
  std::vector<uint8_t> p;
  p.reserve(12 + sectors.size());
  Put32(p, drive);
  Put64(p, first);
  p.insert(p.end(), sectors.begin(), sectors.end());
  AppendRecord(out, kSaved, p);
}

void AppendWriteRecord(std::vector<uint8_t>& out, const UndoWrite& write) {
  std::vector<uint8_t> p;
  Put32(p, write.drive);
  Put64(p, write.first);
  for (uint64_t hash : write.hashes)
    Put64(p, hash);
  AppendRecord(out, kWrite, p);
}

void AppendLostRecord(std::vector<uint8_t>& out, const UndoLost& lost) {
  std::vector<uint8_t> p;
  Put32(p, lost.drive);
  Put64(p, lost.first);
  Put64(p, lost.count);
  AppendRecord(out, kLost, p);
}

void AppendFinishedRecord(std::vector<uint8_t>& out) {
  AppendRecord(out, kFinished, {});
}

std::string ReadUndoFile(const std::string& path, UndoContents* contents) {
  *contents = UndoContents{};
  std::error_code error;
  uint64_t file_length = std::filesystem::file_size(path, error);
  if (error)  // not a regular file (a FIFO would wait for a writer), or none
    return "it cannot be opened";
  if (file_length == 0)
    return "it is empty (the operation that made it stopped before its first write)";
  UniqueFd fd = UniqueFd::Open(path, OpenMode::kReadOnly);
  if (!fd.valid())
    return "it cannot be opened";
  std::vector<uint8_t> header(kHeaderBytes);
  if (ReadBlocks(fd.get(), header.data(), header.size(), true) != static_cast<int>(kHeaderBytes) ||
      header != UndoHeader()) {
    return "it is not an undo file of this program";
  }
  // Only the last record may be cut short or fail its hash: the one a crash interrupted while it
  // was appended (its write never started). Damage with records after it is damage.
  auto last_record_torn = [&](uint64_t record_end) -> std::string {
    if (record_end < file_length)
      return "it is damaged";
    contents->torn_tail = true;
    return "";
  };
  uint64_t offset = kHeaderBytes;
  std::vector<uint8_t> record;
  for (;;) {
    record.resize(kFrameBytes);
    int got = ReadBlocks(fd.get(), record.data(), kFrameBytes, true);
    if (got == 0)
      return "";  // the end, between records
    if (got < 0)
      return "it cannot be read";
    if (got != static_cast<int>(kFrameBytes))
      return last_record_torn(file_length);
    uint32_t length = GetLe32(record, 4);
    uint64_t record_end = offset + kFrameBytes + uint64_t{length} + kTrailerBytes;
    if (length > kLargestPayload || record_end > file_length)  // not read into memory
      return last_record_torn(record_end);
    record.resize(kFrameBytes + length + kTrailerBytes);
    size_t rest = length + kTrailerBytes;
    int rest_got = ReadBlocks(fd.get(), record.data() + kFrameBytes, rest, true);
    if (rest_got < 0)
      return "it cannot be read";
    if (rest_got != static_cast<int>(rest))
      return last_record_torn(file_length);
    std::span<const uint8_t> framed(record.data(), kFrameBytes + length);
    Fields trailer(std::span<const uint8_t>(record).subspan(kFrameBytes + length));
    if (trailer.U64() != ContentHash(framed))
      return last_record_torn(record_end);
    if (!TakeRecord(GetLe32(record, 0), framed.subspan(kFrameBytes), offset + kFrameBytes,
                    contents)) {
      return "a record in it is malformed";
    }
    offset = record_end;
  }
}

}  // namespace quillmar
