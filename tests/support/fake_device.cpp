#include "tests/support/fake_device.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"

namespace quillmar::testing {
namespace {

// Far above any descriptor the process really holds, so the two never mix.
constexpr int kFirstFakeFd = 1 << 28;

int Fail(int error) {
  errno = error;
  return -1;
}

}  // namespace

bool FakeDevice::Vanished() {
  if (calls_left_ < 0)
    return false;
  if (calls_left_ == 0)
    return true;
  --calls_left_;
  return false;
}

size_t FakeDevice::UntilBadSector(const std::set<uint64_t>& bad, uint64_t position,
                                  size_t n) const {
  auto first = bad.lower_bound(position / kBlockSize);
  if (first == bad.end() || *first * kBlockSize >= position + n)
    return n;
  return static_cast<size_t>(std::max(*first * kBlockSize, position) - position);
}

ssize_t FakeDevice::Read(uint64_t position, void* buffer, size_t n) {
  n = std::min(n, most_per_transfer_);
  size_t good = UntilBadSector(bad_reads_, position, n);
  if (good == 0 && n > 0)
    return Fail(EIO);
  if (position >= bytes_.size())
    return 0;
  size_t count = static_cast<size_t>(std::min<uint64_t>(good, bytes_.size() - position));
  std::memcpy(buffer, bytes_.data() + position, count);
  return static_cast<ssize_t>(count);
}

ssize_t FakeDevice::Write(uint64_t position, const void* buffer, size_t n) {
  n = std::min(n, most_per_transfer_);
  size_t count = n;
  int error = 0;
  if (!defer_write_errors_) {
    count = UntilBadSector(bad_writes_, position, n);
    if (count == 0 && n > 0)
      error = EIO;
  } else if (UntilBadSector(bad_writes_, position, n) < n) {
    pending_write_error_ = true;
  }
  if (error == 0 && position + count > space_limit_) {
    count = position >= space_limit_ ? 0 : static_cast<size_t>(space_limit_ - position);
    if (count == 0 && n > 0 && !zero_write_when_full_)
      error = ENOSPC;
  }
  ssize_t result = error != 0 ? -1 : static_cast<ssize_t>(count);
  writes_.push_back({position, n, result});
  if (error != 0)
    return Fail(error);
  if (position + count > bytes_.size())
    bytes_.resize(position + count);
  std::memcpy(bytes_.data() + position, buffer, count);
  return result;
}

int FakeDevice::Flush() {
  ++flushes_;
  if (fail_flush_ || pending_write_error_) {
    fail_flush_ = false;
    pending_write_error_ = false;
    return Fail(EIO);
  }
  return 0;
}

int FakeDevice::Writeback(uint64_t offset, uint64_t length, bool wait) {
  (wait ? waits_ : starts_).push_back({offset, length});
  if (writeback_error_ != 0)
    return Fail(writeback_error_);
  if (wait && pending_write_error_) {
    pending_write_error_ = false;
    return Fail(EIO);
  }
  return 0;
}

FakeDeviceIo::FakeDeviceIo() : next_fd_(kFirstFakeFd), installed_(this) {}

FakeDeviceIo::~FakeDeviceIo() = default;

FakeDevice& FakeDeviceIo::Add(const std::string& path, uint64_t size) {
  auto& slot = devices_[path];
  slot = std::make_unique<FakeDevice>(size);
  return *slot;
}

FakeDeviceIo::Descriptor* FakeDeviceIo::Find(int fd) {
  auto it = open_.find(fd);
  return it == open_.end() ? nullptr : &it->second;
}

int FakeDeviceIo::Open(const std::string& path, OpenMode mode) {
  auto it = devices_.find(path);
  if (it == devices_.end())
    return PosixDeviceIo().Open(path, mode);
  FakeDevice& device = *it->second;
  if (device.Vanished())
    return Fail(device.vanish_error_);
  if (mode != OpenMode::kReadOnly && device.refuse_writers_)
    return Fail(EBUSY);
  int fd = next_fd_++;
  open_[fd] = {&device, mode, 0};
  return fd;
}

int64_t FakeDeviceIo::Seek(int fd, uint64_t offset) {
  Descriptor* d = Find(fd);
  if (d == nullptr)
    return PosixDeviceIo().Seek(fd, offset);
  FakeDevice& device = *d->device;
  if (device.Vanished())
    return Fail(device.vanish_error_);
  if (device.fail_seeks_ || offset > static_cast<uint64_t>(INT64_MAX))
    return Fail(EINVAL);
  d->position = offset + static_cast<uint64_t>(device.seek_delta_);
  return static_cast<int64_t>(d->position);
}

int64_t FakeDeviceIo::Length(int fd) {
  Descriptor* d = Find(fd);
  if (d == nullptr)
    return PosixDeviceIo().Length(fd);
  FakeDevice& device = *d->device;
  if (device.Vanished())
    return Fail(device.vanish_error_);
  if (device.fail_seeks_)
    return Fail(EINVAL);
  d->position = device.bytes_.size();
  return static_cast<int64_t>(d->position);
}

ssize_t FakeDeviceIo::Read(int fd, void* buffer, size_t n) {
  Descriptor* d = Find(fd);
  if (d == nullptr)
    return PosixDeviceIo().Read(fd, buffer, n);
  FakeDevice& device = *d->device;
  if (device.Vanished())
    return Fail(device.vanish_error_);
  if (d->mode == OpenMode::kWriteOnly || d->mode == OpenMode::kWriteOnlyCreate)
    return Fail(EBADF);
  ssize_t r = device.Read(d->position, buffer, n);
  if (r > 0)
    d->position += static_cast<uint64_t>(r);
  return r;
}

ssize_t FakeDeviceIo::Write(int fd, const void* buffer, size_t n) {
  Descriptor* d = Find(fd);
  if (d == nullptr)
    return PosixDeviceIo().Write(fd, buffer, n);
  FakeDevice& device = *d->device;
  if (device.Vanished())
    return Fail(device.vanish_error_);
  if (d->mode == OpenMode::kReadOnly)
    return Fail(EBADF);
  ssize_t r = device.Write(d->position, buffer, n);
  if (r > 0)
    d->position += static_cast<uint64_t>(r);
  return r;
}

int FakeDeviceIo::Flush(int fd) {
  Descriptor* d = Find(fd);
  if (d == nullptr)
    return PosixDeviceIo().Flush(fd);
  if (d->device->Vanished())
    return Fail(d->device->vanish_error_);
  return d->device->Flush();
}

int FakeDeviceIo::StartWriteback(int fd, uint64_t offset, uint64_t length) {
  Descriptor* d = Find(fd);
  if (d == nullptr)
    return PosixDeviceIo().StartWriteback(fd, offset, length);
  if (d->device->Vanished())
    return Fail(d->device->vanish_error_);
  return d->device->Writeback(offset, length, false);
}

int FakeDeviceIo::WaitWriteback(int fd, uint64_t offset, uint64_t length) {
  Descriptor* d = Find(fd);
  if (d == nullptr)
    return PosixDeviceIo().WaitWriteback(fd, offset, length);
  if (d->device->Vanished())
    return Fail(d->device->vanish_error_);
  return d->device->Writeback(offset, length, true);
}

int FakeDeviceIo::Close(int fd) {
  if (open_.erase(fd) == 1)
    return 0;  // a descriptor is released even on a vanished device
  return PosixDeviceIo().Close(fd);
}

}  // namespace quillmar::testing
