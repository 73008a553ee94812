// Real kernel objects for the kernel tests, each removed by its destructor also when a test fails:
// the fault file system (a FUSE process serving one image), loop devices, mounts. Every one is made
// by the test itself over files in the test's own temporary folder; none touches the machine's
// disks.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace quillmar::testing {

// Runs a program (searched in PATH) and waits for it: its exit status (-1 when it could not run),
// with its standard output in *output when given.
int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr);

// "" when these tests can run here (root, /dev/fuse, losetup, fusermount3), else why not.
std::string KernelTestsUnavailable();

// A sparse file of the given size.
void MakeSparseFile(const std::string& path, uint64_t size);

// The fault file system serving backing as image() under mountpoint, with the fault options of
// quillmar-fault-fs. valid() is false when it did not come up.
class FaultFs {
 public:
  FaultFs(const std::string& backing, const std::string& mountpoint,
          const std::vector<std::string>& faults = {});
  ~FaultFs();
  FaultFs(const FaultFs&) = delete;
  FaultFs& operator=(const FaultFs&) = delete;

  bool valid() const { return mounted_; }
  std::string image() const { return mountpoint_ + "/disk.img"; }

 private:
  std::string mountpoint_;
  pid_t pid_ = -1;
  bool mounted_ = false;
};

// A loop device attached over a file; detached (exactly this one) by the destructor.
class LoopDevice {
 public:
  explicit LoopDevice(const std::string& file);
  ~LoopDevice();
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  bool valid() const { return !path_.empty(); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A mount of source at dir (mount -t type -o options); unmounted by the destructor.
class Mount {
 public:
  Mount(const std::string& type, const std::string& source, const std::string& dir,
        const std::string& options = "");
  ~Mount();
  Mount(const Mount&) = delete;
  Mount& operator=(const Mount&) = delete;

  bool valid() const { return mounted_; }

 private:
  std::string dir_;
  bool mounted_ = false;
};

}  // namespace quillmar::testing
