// A file system for the kernel tests: serves one image file as /disk.img and fails chosen sectors
// the way a failing drive does, so that a loop device attached over it behaves like a bad disk.
//
//   quillmar-fault-fs BACKING MOUNTPOINT [--bad-read=S,S...] [--bad-write=S,...] [--bad-fsync]
//                     [--die-after-bytes=N] [--lost-write=S,...]
//
// Reads reaching a bad sector come back short, and a read starting at it fails with EIO; a write
// touching one fails with EIO; --bad-fsync fails every fsync; --die-after-bytes ends the process at
// the first read or write after N bytes were transferred, so the drive vanishes mid-way;
// --lost-write drops what is written to those sectors and reports success, as a device that
// corrupts silently does.
#define FUSE_USE_VERSION 31

#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kSectorSize = 512;
constexpr const char* kImageName = "/disk.img";

struct Faults {
  int fd = -1;
  std::set<uint64_t> bad_reads;
  std::set<uint64_t> bad_writes;
  std::set<uint64_t> lost_writes;
  bool bad_fsync = false;
  long long die_after_bytes = -1;
  long long bytes = 0;
};

Faults& State() {
  static Faults faults;
  return faults;
}

// The first bad sector within [offset, offset + size), as a byte offset; or offset + size.
uint64_t FirstBadByte(const std::set<uint64_t>& bad, uint64_t offset, uint64_t size) {
  auto first = bad.lower_bound(offset / kSectorSize);
  if (first == bad.end() || *first * kSectorSize >= offset + size)
    return offset + size;
  return *first * kSectorSize > offset ? *first * kSectorSize : offset;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
  std::memset(st, 0, sizeof *st);
  if (std::strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  if (std::strcmp(path, kImageName) != 0)
    return -ENOENT;
  struct stat backing {};
  if (::fstat(State().fd, &backing) != 0)
    return -errno;
  st->st_mode = S_IFREG | 0644;
  st->st_nlink = 1;
  st->st_size = backing.st_size;
  st->st_blocks = backing.st_blocks;
  return 0;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
  if (std::strcmp(path, "/") != 0)
    return -ENOENT;
  auto none = static_cast<fuse_fill_dir_flags>(0);
  fill(buffer, ".", nullptr, 0, none);
  fill(buffer, "..", nullptr, 0, none);
  fill(buffer, kImageName + 1, nullptr, 0, none);
  return 0;
}

int Open(const char* path, fuse_file_info* info) {
  if (std::strcmp(path, kImageName) != 0)
    return -ENOENT;
  info->direct_io = 1;  // every transfer reaches this process: no page cache in between
  return 0;
}

// Counts the bytes of a read or write, and ends the process (the drive vanishes) once it has
// transferred its share.
void CountRequest(size_t size) {
  Faults& faults = State();
  if (faults.die_after_bytes >= 0 && faults.bytes >= faults.die_after_bytes) {
    ::_exit(3);
  }
  faults.bytes += static_cast<long long>(size);
}

int Read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info*) {
  CountRequest(size);
  uint64_t start = static_cast<uint64_t>(offset);
  uint64_t good = FirstBadByte(State().bad_reads, start, size) - start;
  if (good == 0 && size > 0)
    return -EIO;
  ssize_t n = ::pread(State().fd, buffer, good, offset);
  return n < 0 ? -errno : static_cast<int>(n);
}

int Write(const char*, const char* buffer, size_t size, off_t offset, fuse_file_info*) {
  CountRequest(size);
  Faults& faults = State();
  uint64_t start = static_cast<uint64_t>(offset);
  if (FirstBadByte(faults.bad_writes, start, size) < start + size)
    return -EIO;
  std::vector<char> data(buffer, buffer + size);
  for (auto s = faults.lost_writes.lower_bound(start / kSectorSize);
       s != faults.lost_writes.end() && *s * kSectorSize < start + size; ++s) {
    uint64_t from = std::max(*s * kSectorSize, start);
    uint64_t to = std::min((*s + 1) * kSectorSize, start + size);
    if (::pread(faults.fd, data.data() + (from - start), to - from, static_cast<off_t>(from)) < 0)
      return -errno;  // the sector keeps what it held
  }
  ssize_t n = ::pwrite(faults.fd, data.data(), size, offset);
  return n < 0 ? -errno : static_cast<int>(n);
}

int Fsync(const char*, int, fuse_file_info*) {
  if (State().bad_fsync)
    return -EIO;
  return ::fsync(State().fd) == 0 ? 0 : -errno;
}

std::set<uint64_t> ParseSectors(const char* list) {
  std::set<uint64_t> sectors;
  std::stringstream items(list);
  for (std::string item; std::getline(items, item, ',');)
    sectors.insert(std::stoull(item));
  return sectors;
}

bool ParseOption(const std::string& option) {
  Faults& faults = State();
  auto value = [&](const char* prefix) -> const char* {
    size_t n = std::strlen(prefix);
    return option.compare(0, n, prefix) == 0 ? option.c_str() + n : nullptr;
  };
  if (const char* v = value("--bad-read=")) {
    faults.bad_reads = ParseSectors(v);
  } else if (const char* w = value("--bad-write=")) {
    faults.bad_writes = ParseSectors(w);
  } else if (const char* l = value("--lost-write=")) {
    faults.lost_writes = ParseSectors(l);
  } else if (const char* d = value("--die-after-bytes=")) {
    faults.die_after_bytes = std::strtoll(d, nullptr, 10);
  } else if (option == "--bad-fsync") {
    faults.bad_fsync = true;
  } else {
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s BACKING MOUNTPOINT [faults...]\n", argv[0]);
    return 2;
  }
  for (int i = 3; i < argc; ++i) {
    if (!ParseOption(argv[i])) {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  State().fd = ::open(argv[1], O_RDWR | O_CLOEXEC);
  if (State().fd < 0) {
    std::perror(argv[1]);
    return 1;
  }

  fuse_operations ops{};
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.open = Open;
  ops.read = Read;
  ops.write = Write;
  ops.fsync = Fsync;

  // Foreground, one thread: the tests start and stop this process themselves.
  std::string program = argv[0];
  std::string mountpoint = argv[2];
  std::vector<std::string> args = {program, mountpoint, "-f", "-s", "-o", "fsname=quillmar-fault"};
  std::vector<char*> fuse_argv;
  for (std::string& arg : args)
    fuse_argv.push_back(arg.data());
  return fuse_main(static_cast<int>(fuse_argv.size()), fuse_argv.data(), &ops, nullptr);
}
