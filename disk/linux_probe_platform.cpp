// The probe's platform on Linux. IDENTIFY goes to the drive as an ATA PASS-THROUGH (16) command
// through SG_IO, which reaches SATA drives and most USB-SATA bridges; where SG_IO is absent the
// legacy HDIO_DRIVE_CMD ioctl is tried. Lengths come from BLKGETSIZE64 (devices) or the file
// size (image files); the size search reads with pread. Every open is read-only.
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <fstream>
#include <string>

#include "disk/probe_platform.h"

namespace quillmar {
namespace {

constexpr uint8_t kAtaPassThrough16 = 0x85;
constexpr uint8_t kProtocolPioDataIn = 4 << 1;
// T_DIR from the device, BYT_BLOK, transfer length in the sector count field.
constexpr uint8_t kTransferFromDeviceInBlocks = 0x0E;
constexpr uint8_t kDeviceRegister = 0xA0;
constexpr int kSgMinimumVersion = 30000;
constexpr unsigned kSgTimeoutMs = 10000;
constexpr uint8_t kAtaStatusError = 0x01;
// A status with BSY set holds no valid bits. Both IDENTIFY command bytes (0xEC, 0xA1) have this
// bit set, so an argument buffer the driver left unchanged never reads as a drive's error.
constexpr uint8_t kAtaStatusBusy = 0x80;
constexpr uint8_t kAtaStatusReturnDescriptor = 0x09;
constexpr int kOpticalDeviceType = 5;
// HDIO_GET_IDENTITY: the driver's copy of the IDENTIFY data, its model text (words 27-46)
// already in character order.
constexpr size_t kIdentityModelOffset = 54;
constexpr size_t kIdentityModelLength = 40;

// The driver's error code of a failed IDENTIFY: the drive answered with an error (its error
// register is the second number), or the request never reached the drive.
constexpr uint8_t kDriverErrorFromDrive = 1;
constexpr uint8_t kDriverErrorNotReached = 6;

enum class AtaOutcome { kDone, kDriveError, kNotReached };

struct AtaReply {
  AtaOutcome outcome = AtaOutcome::kNotReached;
  uint8_t error_register = 0;
};

bool StatOf(int fd, struct stat* st) {
  return ::fstat(fd, st) == 0;
}

bool IsBlockDevice(int fd) {
  struct stat st {};
  return StatOf(fd, &st) && S_ISBLK(st.st_mode);
}

std::string FirstLine(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string Trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\n\v\f\r");
  if (first == std::string::npos)
    return "";
  size_t last = text.find_last_not_of(" \t\n\v\f\r");
  return text.substr(first, last - first + 1);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The device's folder in sysfs, "" for anything but a block device.
std::string SysfsFolder(int fd) {
  struct stat st {};
  if (!StatOf(fd, &st) || !S_ISBLK(st.st_mode))
    return "";
  return "/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
         std::to_string(minor(st.st_rdev));
}

bool IsPacketDevice(int fd) {
  std::string folder = SysfsFolder(fd);
  return !folder.empty() &&
         Trimmed(FirstLine(folder + "/device/type")) == std::to_string(kOpticalDeviceType);
}

bool AllZero(const Sector& data) {
  return std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0; });
}

// The drive's status and error registers, when the sense data carries them (the ATA Status
// Return descriptor, or the fixed format's "ATA pass-through information available").
bool AtaRegistersFromSense(const uint8_t* sense, size_t length, uint8_t* status, uint8_t* error) {
  if (length < 8)
    return false;
  uint8_t format = sense[0] & 0x7F;
  if (format == 0x72 || format == 0x73) {
    size_t at = 8;
    size_t end = std::min(length, static_cast<size_t>(8) + sense[7]);
    while (at + 1 < end) {
      size_t descriptor_length = static_cast<size_t>(sense[at + 1]) + 2;
      if (sense[at] == kAtaStatusReturnDescriptor && at + 14 <= end) {
        *error = sense[at + 3];
        *status = sense[at + 13];
        return true;
      }
      at += descriptor_length;
    }
    return false;
  }
  if ((format == 0x70 || format == 0x71) && length >= 14 && sense[12] == 0x00 &&
      sense[13] == 0x1D) {
    *error = sense[3];
    *status = sense[4];
    return true;
  }
  return false;
}

AtaReply SgIdentify(int fd, uint8_t command, Sector* data) {
  int version = 0;
  if (::ioctl(fd, SG_GET_VERSION_NUM, &version) != 0 || version < kSgMinimumVersion)
    return {};
  std::array<uint8_t, 16> cdb{};
  cdb[0] = kAtaPassThrough16;
  cdb[1] = kProtocolPioDataIn;
  cdb[2] = kTransferFromDeviceInBlocks;
  cdb[6] = 1;  // one sector
  cdb[13] = kDeviceRegister;
  cdb[14] = command;
  std::array<uint8_t, 32> sense{};
  data->fill(0);
  sg_io_hdr_t io{};
  io.interface_id = 'S';
  io.dxfer_direction = SG_DXFER_FROM_DEV;
  io.cmd_len = static_cast<unsigned char>(cdb.size());
  io.mx_sb_len = static_cast<unsigned char>(sense.size());
  io.dxfer_len = static_cast<unsigned>(data->size());
  io.dxferp = data->data();
  io.cmdp = cdb.data();
  io.sbp = sense.data();
  io.timeout = kSgTimeoutMs;
  if (::ioctl(fd, SG_IO, &io) != 0)
    return {};
  uint8_t status = 0;
  uint8_t error = 0;
  bool registers = AtaRegistersFromSense(sense.data(), io.sb_len_wr, &status, &error);
  if (registers && (status & kAtaStatusError) != 0)
    return {AtaOutcome::kDriveError, error};
  bool completed = (io.info & SG_INFO_OK_MASK) == SG_INFO_OK || registers;
  // A bridge that swallows the command without passing it on answers with nothing at all.
  if (!completed || AllZero(*data))
    return {};
  return {AtaOutcome::kDone, 0};
}

AtaReply HdioIdentify(int fd, uint8_t command, Sector* data) {
  std::array<uint8_t, 4 + kBlockSize> args{};
  args[0] = command;
  args[3] = 1;  // one sector of data
  if (::ioctl(fd, HDIO_DRIVE_CMD, args.data()) == 0) {
    std::copy_n(args.begin() + 4, kBlockSize, data->begin());
    if (AllZero(*data))
      return {};
    return {AtaOutcome::kDone, 0};
  }
  // On a command error the registers may come back in place of the arguments; a driver that
  // has none to give leaves the command byte there.
  if (errno == EIO && (args[0] & kAtaStatusBusy) == 0 && (args[0] & kAtaStatusError) != 0)
    return {AtaOutcome::kDriveError, args[1]};
  return {};
}

AtaReply AtaIdentify(int fd, uint8_t command, Sector* data) {
  AtaReply reply = SgIdentify(fd, command, data);
  if (reply.outcome != AtaOutcome::kNotReached)
    return reply;
  return HdioIdentify(fd, command, data);
}

// The model text of the driver's own IDENTIFY copy ("" where the driver keeps none). Needs no
// pass-through, so it also serves users who may read the disk but not send it commands.
std::string ModelFromDriverIdentity(int fd) {
  std::array<uint8_t, kBlockSize> identity{};
  if (::ioctl(fd, HDIO_GET_IDENTITY, identity.data()) != 0)
    return "";
  std::string model;
  for (size_t i = 0; i < kIdentityModelLength; ++i) {
    uint8_t c = identity[kIdentityModelOffset + i];
    if (c == 0)
      break;
    model.push_back(static_cast<char>(c));
  }
  return Trimmed(model);
}

// The name the kernel knows a device by: the ATA model the driver read, a loop device's
// backing file, else vendor and model (the "ATA" that libata puts as every SATA drive's vendor
// says nothing and is left out; the SCSI model is cut to 16 characters).
std::string KernelDeviceName(int fd) {
  std::string folder = SysfsFolder(fd);
  if (folder.empty())
    return "";
  std::string identity = ModelFromDriverIdentity(fd);
  if (!identity.empty())
    return identity;
  std::string backing = Trimmed(FirstLine(folder + "/loop/backing_file"));
  if (!backing.empty())
    return BaseName(backing);
  std::string vendor = Trimmed(FirstLine(folder + "/device/vendor"));
  std::string model = Trimmed(FirstLine(folder + "/device/model"));
  if (vendor.empty() || vendor == "ATA")
    return model;
  if (model.empty())
    return vendor;
  return vendor + " " + model;
}

class LinuxProbe final : public ProbePlatform {
 public:
  int Open(const std::string& path) override {
    int fd;
    do {
      fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
      return -1;
    struct stat st {};
    if (!StatOf(fd, &st) || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
      ::close(fd);
      errno = ENODEV;  // neither a drive nor an image file
      return -1;
    }
    return fd;
  }

  bool PassThroughAvailable(int fd, bool* packet_device) override {
    *packet_device = false;
    if (!IsBlockDevice(fd))
      return false;
    // A packet device's IDENTIFY answer holds no capacity: it is not a hard drive, and is
    // measured by its length instead.
    *packet_device = IsPacketDevice(fd);
    if (*packet_device)
      return false;
    Sector trial{};
    return AtaIdentify(fd, kIdentifyDevice, &trial).outcome != AtaOutcome::kNotReached;
  }

  bool Identify(int fd, uint8_t command, Sector* data, IdentifyError* error) override {
    AtaReply reply = AtaIdentify(fd, command, data);
    if (reply.outcome == AtaOutcome::kDone)
      return true;
    error->driver_error =
        reply.outcome == AtaOutcome::kDriveError ? kDriverErrorFromDrive : kDriverErrorNotReached;
    error->ide_error = reply.error_register;
    return false;
  }

  bool LengthBytes(int fd, uint64_t* bytes) override {
    struct stat st {};
    if (!StatOf(fd, &st))
      return false;
    if (S_ISREG(st.st_mode)) {
      *bytes = static_cast<uint64_t>(st.st_size);
      return true;
    }
    return S_ISBLK(st.st_mode) && ::ioctl(fd, BLKGETSIZE64, bytes) == 0;
  }

  bool ReadSectorAt(int fd, uint64_t offset, Sector* buffer) override {
    if (offset > static_cast<uint64_t>(INT64_MAX) - kBlockSize)
      return false;
    ssize_t r;
    do {
      r = ::pread(fd, buffer->data(), buffer->size(), static_cast<off_t>(offset));
    } while (r < 0 && errno == EINTR);
    return r == static_cast<ssize_t>(buffer->size());
  }

  std::string FallbackModel(int fd, const std::string& path) override {
    struct stat st {};
    if (!StatOf(fd, &st))
      return "";
    if (S_ISREG(st.st_mode))
      return BaseName(path);
    return KernelDeviceName(fd);
  }

  uint32_t LogicalSectorSize(int fd) override {
    int size = 0;
    if (!IsBlockDevice(fd) || ::ioctl(fd, BLKSSZGET, &size) != 0 || size <= 0) {
      return kBlockSize;
    }
    return static_cast<uint32_t>(size);
  }

  void Close(int fd) override { ::close(fd); }
};

}  // namespace

ProbePlatform& LinuxProbePlatform() {
  static LinuxProbe platform;
  return platform;
}

}  // namespace quillmar
