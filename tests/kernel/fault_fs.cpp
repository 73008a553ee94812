// A file system for the kernel tests: serves one image file as /disk.img and fails chosen sectors
// as a failing drive does, so that the file, or a loop device over it, behaves like a bad disk.
//
//   quillmar-fault-fs BACKING MOUNTPOINT [--bad-read=S,...] [--bad-write=S,...] [--bad-fsync]
//                     [--lost-write=S,...] [--short-write=S] [--die-after-bytes=N]
//
// A read reaching a bad sector stops short before it, one starting at it fails with EIO; a write
// touching a bad sector fails with EIO; --bad-fsync fails every fsync; --lost-write drops what is
// written to those sectors and reports success; --short-write stops a write short before sector S
// and accepts nothing the first time a write starts at S; --die-after-bytes ends the process once
// N bytes were transferred, so the drive vanishes mid-way. It returns once mounted (a daemon).
#define FUSE_USE_VERSION 31

#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kSector = 512;
constexpr const char* kImage = "/disk.img";

int backing = -1;
std::set<uint64_t> bad_reads, bad_writes, lost_writes, short_writes;
bool bad_fsync = false;
long long die_after_bytes = -1, bytes = 0;

// The first byte within [offset, offset + size) that lies in a listed sector, or offset + size.
uint64_t FirstListedByte(const std::set<uint64_t>& sectors, uint64_t offset, uint64_t size) {
  auto first = sectors.lower_bound(offset / kSector);
  if (first == sectors.end() || *first * kSector >= offset + size)
    return offset + size;
  return std::max(*first * kSector, offset);
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
  std::memset(st, 0, sizeof *st);
  if (std::strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    return 0;
  }
  if (std::strcmp(path, kImage) != 0)
    return -ENOENT;
  if (::fstat(backing, st) != 0)
    return -errno;
  st->st_mode = S_IFREG | 0644;
  return 0;
}

int Open(const char* path, fuse_file_info* info) {
  info->direct_io = 1;  // every transfer reaches this process: no page cache in between
  return std::strcmp(path, kImage) == 0 ? 0 : -ENOENT;
}

void Count(size_t size) {
  if (die_after_bytes >= 0 && bytes >= die_after_bytes)
    ::_exit(3);
  bytes += static_cast<long long>(size);
}

int Read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info*) {
  Count(size);
  uint64_t good = FirstListedByte(bad_reads, offset, size) - offset;
  if (good == 0 && size > 0)
    return -EIO;
  ssize_t n = ::pread(backing, buffer, good, offset);
  return n < 0 ? -errno : static_cast<int>(n);
}

int Write(const char*, const char* buffer, size_t size, off_t offset, fuse_file_info*) {
  Count(size);
  uint64_t start = offset;
  if (FirstListedByte(bad_writes, start, size) < start + size)
    return -EIO;
  size_t accepted = FirstListedByte(short_writes, start, size) - start;
  if (accepted == 0 && size > 0) {
    short_writes.erase(start / kSector);
    return 0;
  }
  std::vector<char> data(buffer, buffer + accepted);
  for (auto s = lost_writes.lower_bound(start / kSector);
       s != lost_writes.end() && *s * kSector < start + accepted; ++s) {
    uint64_t from = std::max(*s * kSector, start);
    uint64_t to = std::min((*s + 1) * kSector, start + accepted);
    if (::pread(backing, data.data() + (from - start), to - from, from) < 0)
      return -errno;  // the sector keeps what it held
  }
  ssize_t n = ::pwrite(backing, data.data(), accepted, offset);
  return n < 0 ? -errno : static_cast<int>(n);
}

int Fsync(const char*, int, fuse_file_info*) {
  return bad_fsync ? -EIO : (::fsync(backing) == 0 ? 0 : -errno);
}

std::set<uint64_t> Sectors(const std::string& list) {
  std::set<uint64_t> sectors;
  std::stringstream items(list);
  for (std::string item; std::getline(items, item, ',');)
    sectors.insert(std::stoull(item));
  return sectors;
}

bool Option(const std::string& option) {
  std::string name = option.substr(0, option.find('=') + 1);
  std::string value = option.substr(name.size());
  if (name == "--bad-read=")
    bad_reads = Sectors(value);
  else if (name == "--bad-write=")
    bad_writes = Sectors(value);
  else if (name == "--lost-write=")
    lost_writes = Sectors(value);
  else if (name == "--short-write=")
    short_writes = Sectors(value);
  else if (name == "--die-after-bytes=")
    die_after_bytes = std::stoll(value);
  else if (option == "--bad-fsync")
    bad_fsync = true;
  else
    return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 3; i < argc; ++i) {
    if (!Option(argv[i])) {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  backing = argc < 3 ? -1 : ::open(argv[1], O_RDWR | O_CLOEXEC);
  if (backing < 0) {
    std::fprintf(stderr, "usage: %s BACKING MOUNTPOINT [faults...]\n", argv[0]);
    return 2;
  }
  fuse_operations ops{};
  ops.getattr = GetAttr;
  ops.open = Open;
  ops.read = Read;
  ops.write = Write;
  ops.fsync = Fsync;
  // One thread; fuse_main returns to the caller once the mount is up and goes on in the background.
  std::vector<std::string> args = {argv[0], argv[2], "-s", "-o", "fsname=quillmar-fault"};
  std::vector<char*> fuse_argv;
  for (std::string& arg : args)
    fuse_argv.push_back(arg.data());
  return fuse_main(static_cast<int>(fuse_argv.size()), fuse_argv.data(), &ops, nullptr);
}
