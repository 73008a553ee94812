#include "tests/support/fake_device.h"

#include <algorithm>
#include <cstring>

namespace quillmar::testing {
namespace {

// Far above any descriptor the process really holds, so the two never mix.
constexpr int kFirstFakeFd = 1 << 28;

int Fail(int error) {
  errno = error;
  return -1;
}

}  // namespace

size_t BytesBeforeListedSector(const std::set<uint64_t>& sectors, uint64_t position, size_t n) {
  auto first = sectors.lower_bound(position / kBlockSize);
  if (first == sectors.end() || *first * kBlockSize >= position + n)
    return n;
  return static_cast<size_t>(std::max(*first * kBlockSize, position) - position);
}

void FakeDevice::Sparse(uint64_t size, std::function<bool(uint64_t, Sector&)> fill) {
  sparse_size_ = size;
  fill_ = std::move(fill);
  NoSpaceBeyond(size);
}

Sector FakeDevice::Peek(uint64_t n) {
  Sector sector{};
  if (uint64_t at = n * kBlockSize; at < Size())
    Move(at, sector.data(), std::min<uint64_t>(kBlockSize, Size() - at), false);
  return sector;
}

void FakeDevice::Move(uint64_t position, uint8_t* buffer, size_t n, bool write) {
  if (!fill_) {
    if (write && position + n > bytes_.size())
      bytes_.resize(position + n);
    write ? std::memcpy(bytes_.data() + position, buffer, n)
          : std::memcpy(buffer, bytes_.data() + position, n);
    return;
  }
  for (size_t done = 0, part = 0; done < n; done += part) {
    uint64_t at = position + done;
    part = std::min<size_t>(n - done, kBlockSize - at % kBlockSize);
    auto found = sectors_.find(at / kBlockSize);
    if (found == sectors_.end()) {
      Sector fresh{};
      if (!fill_(at / kBlockSize, fresh) && !write) {
        std::memset(buffer + done, 0, part);
        continue;
      }
      found = sectors_.emplace(at / kBlockSize, fresh).first;
    }
    uint8_t* held = found->second.data() + at % kBlockSize;
    write ? std::memcpy(held, buffer + done, part) : std::memcpy(buffer + done, held, part);
  }
}

bool FakeDevice::Vanished() {
  if (calls_left_ < 0)
    return false;
  return calls_left_ == 0 || (--calls_left_, false);
}

ssize_t FakeDevice::Read(uint64_t position, uint8_t* buffer, size_t n) {
  n = std::min(n, most_per_transfer_);
  size_t good = BytesBeforeListedSector(bad_reads_, position, n);
  if (good == 0 && n > 0)
    return Fail(EIO);
  if (position >= Size())
    return 0;
  auto count = static_cast<size_t>(std::min<uint64_t>(good, Size() - position));
  Move(position, buffer, count, false);
  return static_cast<ssize_t>(count);
}

ssize_t FakeDevice::Write(uint64_t position, const uint8_t* buffer, size_t n) {
  n = std::min(n, most_per_transfer_);
  size_t count = n;
  int error = 0;
  if (!defer_write_errors_) {
    count = BytesBeforeListedSector(bad_writes_, position, n);
    error = count == 0 && n > 0 ? EIO : 0;
  } else if (BytesBeforeListedSector(bad_writes_, position, n) < n) {
    pending_write_error_ = true;
  }
  if (error == 0 && position + count > space_limit_) {
    count = position >= space_limit_ ? 0 : static_cast<size_t>(space_limit_ - position);
    error = count == 0 && n > 0 && !zero_write_when_full_ ? ENOSPC : 0;
  }
  writes_.push_back({position, n});
  if (error != 0)
    return Fail(error);
  Move(position, const_cast<uint8_t*>(buffer), count, true);
  return static_cast<ssize_t>(count);
}

int FakeDevice::Writeback(bool wait) {
  if (writeback_error_ != 0)
    return Fail(writeback_error_);
  if (wait && std::exchange(pending_write_error_, false))
    return Fail(EIO);
  return 0;
}

FakeDevice& FakeDeviceIo::Add(const std::string& path, uint64_t size) {
  return *(devices_[path] = std::make_unique<FakeDevice>(size));
}

FakeDeviceIo::Descriptor* FakeDeviceIo::Live(int fd) {
  auto it = open_.find(fd);
  if (it == open_.end() || it->second.device->Vanished()) {
    errno = it == open_.end() ? EBADF : it->second.device->vanish_error_;
    return nullptr;
  }
  return &it->second;
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
  open_[kFirstFakeFd + opens_] = {&device, mode, 0};
  return kFirstFakeFd + opens_++;
}

int64_t FakeDeviceIo::Seek(int fd, uint64_t offset) {
  Descriptor* d = Live(fd);
  if (d == nullptr)
    return fd < kFirstFakeFd ? PosixDeviceIo().Seek(fd, offset) : -1;
  if (d->device->fail_seeks_ || offset > static_cast<uint64_t>(INT64_MAX))
    return Fail(EINVAL);
  d->position = offset + static_cast<uint64_t>(d->device->seek_delta_);
  return static_cast<int64_t>(d->position);
}

int64_t FakeDeviceIo::Length(int fd) {
  Descriptor* d = Live(fd);
  if (d == nullptr)
    return fd < kFirstFakeFd ? PosixDeviceIo().Length(fd) : -1;
  if (d->device->fail_seeks_)
    return Fail(EINVAL);
  d->position = d->device->Size();
  return static_cast<int64_t>(d->position);
}

ssize_t FakeDeviceIo::Read(int fd, void* buffer, size_t n) {
  Descriptor* d = Live(fd);
  if (d == nullptr)
    return fd < kFirstFakeFd ? PosixDeviceIo().Read(fd, buffer, n) : -1;
  if (d->mode == OpenMode::kWriteOnly || d->mode == OpenMode::kWriteOnlyCreate)
    return Fail(EBADF);
  ssize_t r = d->device->Read(d->position, static_cast<uint8_t*>(buffer), n);
  d->position += r > 0 ? static_cast<uint64_t>(r) : 0;
  return r;
}

ssize_t FakeDeviceIo::Write(int fd, const void* buffer, size_t n) {
  Descriptor* d = Live(fd);
  if (d == nullptr)
    return fd < kFirstFakeFd ? PosixDeviceIo().Write(fd, buffer, n) : -1;
  if (d->mode == OpenMode::kReadOnly)
    return Fail(EBADF);
  ssize_t r = d->device->Write(d->position, static_cast<const uint8_t*>(buffer), n);
  d->position += r > 0 ? static_cast<uint64_t>(r) : 0;
  return r;
}

int FakeDeviceIo::Flush(int fd) {
  Descriptor* d = Live(fd);
  if (d == nullptr)
    return fd < kFirstFakeFd ? PosixDeviceIo().Flush(fd) : -1;
  ++d->device->flushes_;
  bool failed = std::exchange(d->device->fail_flush_, false);
  return std::exchange(d->device->pending_write_error_, false) || failed ? Fail(EIO) : 0;
}

int FakeDeviceIo::StartWriteback(int fd, uint64_t offset, uint64_t length) {
  Descriptor* d = Live(fd);
  if (d == nullptr)
    return fd < kFirstFakeFd ? PosixDeviceIo().StartWriteback(fd, offset, length) : -1;
  return d->device->Writeback(false);
}

int FakeDeviceIo::WaitWriteback(int fd, uint64_t offset, uint64_t length) {
  Descriptor* d = Live(fd);
  if (d == nullptr)
    return fd < kFirstFakeFd ? PosixDeviceIo().WaitWriteback(fd, offset, length) : -1;
  return d->device->Writeback(true);
}

int FakeDeviceIo::Close(int fd) {
  if (open_.erase(fd) == 1)
    return 0;  // a descriptor is released even on a vanished device
  return PosixDeviceIo().Close(fd);
}

}  // namespace quillmar::testing
