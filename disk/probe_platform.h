// What the drive probe asks of the platform: open a drive without writing to it, whether ATA
// pass-through reaches it (and whether it is a packet device), IDENTIFY with the driver's error
// pair, the length in bytes, and one 512-byte sector read at a byte offset. The Linux version
// serves devices and image files; tests install a double that plays any drive.
#pragma once

#include <cstdint>
#include <string>

#include "base/byte_order.h"

namespace quillmar {

inline constexpr uint8_t kIdentifyDevice = 0xEC;
inline constexpr uint8_t kIdentifyPacketDevice = 0xA1;

// Why an IDENTIFY failed: the driver's own error code and the drive's error register.
struct IdentifyError {
  uint8_t driver_error = 0;
  uint8_t ide_error = 0;
};

class ProbePlatform {
 public:
  virtual ~ProbePlatform() = default;
  // A handle for the drive at path, opened so that nothing can be written; -1 with errno set.
  virtual int Open(const std::string& path) = 0;
  // Whether ATA pass-through reaches the drive; *packet_device then tells whether it is a packet
  // (ATAPI) device.
  virtual bool PassThroughAvailable(int handle, bool* packet_device) = 0;
  // Sends IDENTIFY DEVICE or IDENTIFY PACKET DEVICE. True with the 512 bytes of the answer, or
  // false with the error pair.
  virtual bool Identify(int handle, uint8_t command, Sector* data, IdentifyError* error) = 0;
  // The drive's length in bytes; false when the platform cannot tell.
  virtual bool LengthBytes(int handle, uint64_t* bytes) = 0;
  // True when the drive positions at offset and exactly 512 bytes arrive from there.
  virtual bool ReadSectorAt(int handle, uint64_t offset, Sector* buffer) = 0;
  // A model text for a drive that pass-through does not reach ("" when none is known).
  virtual std::string FallbackModel(int handle, const std::string& path) = 0;
  // The drive's logical sector size in bytes; 512 where the question does not apply.
  virtual uint32_t LogicalSectorSize(int handle) = 0;
  virtual void Close(int handle) = 0;
};

// The platform the probe uses; SetProbePlatform(nullptr) restores the Linux one.
ProbePlatform& CurrentProbePlatform();
void SetProbePlatform(ProbePlatform* platform);

// Raw drives and image files through Linux ioctls and pread.
ProbePlatform& LinuxProbePlatform();

}  // namespace quillmar
