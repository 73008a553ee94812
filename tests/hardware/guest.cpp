#include "tests/hardware/guest.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace quillmar::testing {
namespace {

constexpr const char* kMarker = "@@@ ";

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs a shell command, appending its standard output; true when it exited with 0.
bool Capture(const std::string& command, std::string* output) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr)
    return false;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    output->append(buffer, n);
  return ::pclose(pipe) == 0;
}

std::string Script() {
  return std::string(QUILLMAR_HARDWARE_DIR) + "/make_guest.sh";
}

std::string CacheRoot() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  std::string base =
      xdg != nullptr && *xdg != 0 ? xdg : std::string(home ? home : "/tmp") + "/.cache";
  return base + "/quillmar-hardware";
}

struct Guest {
  bool built = false;
  std::string dir;
  std::string why;
};

const Guest& TheGuest() {
  static const Guest guest = [] {
    Guest g;
    std::string output;
    g.built = Capture(Quote(Script()) + " guest " + Quote(CacheRoot()) + " 2>&1", &output);
    while (!output.empty() && output.back() == '\n')
      output.pop_back();
    if (g.built)
      g.dir = output.substr(output.find_last_of('\n') + 1);
    else
      g.why = "the emulated-hardware guest cannot be built here: " + output;
    return g;
  }();
  return guest;
}

// The -drive and -device arguments of one disk; ahci_port counts the AHCI ports in use.
std::string DiskArguments(const GuestDisk& disk, int id, int* ahci_port) {
  std::string drive = "d" + std::to_string(id);
  std::string args = " -drive if=none,id=" + drive + ",format=raw,file=" + disk.image;
  if (disk.bus == Bus::kIdeOptical)
    args += ",media=cdrom";
  if (disk.bytes_per_second != 0) {
    std::string rate = std::to_string(disk.bytes_per_second);
    args += ",throttling.bps-read=" + rate + ",throttling.bps-write=" + rate;
  }
  std::string common = ",drive=" + drive + ",serial=" + disk.serial;
  switch (disk.bus) {
    case Bus::kAhci:
      return args + " -device ide-hd,bus=ahci." + std::to_string((*ahci_port)++) + common +
             ",model=" + Quote(disk.model);
    case Bus::kIde:
      return args + " -device ide-hd,bus=ide.0,unit=0" + common + ",model=" + Quote(disk.model);
    case Bus::kIdeOptical:
      return args + " -device ide-cd,bus=ide.1,unit=0" + common + ",model=" + Quote(disk.model);
    case Bus::kUsb:
      return args + " -device usb-storage,bus=xhci.0" + common;
    case Bus::kScsi:
    case Bus::kScsi4096:
      args +=
          " -device scsi-hd,bus=scsi.0" + common + ",vendor=QMDISK,product=" + Quote(disk.model);
      if (disk.bus == Bus::kScsi4096)
        args += ",logical_block_size=4096,physical_block_size=4096";
      return args;
  }
  return args;
}

std::string QemuCommand(const std::string& initrd, const std::vector<GuestDisk>& disks) {
  std::string command =
      "timeout 600 qemu-system-x86_64 -machine pc -accel tcg -m 256 -nodefaults -display none "
      "-serial stdio -no-reboot -monitor none -kernel " +
      Quote(TheGuest().dir + "/vmlinux") + " -initrd " + Quote(initrd) +
      " -append 'console=ttyS0 loglevel=1 panic=-1 quillmar.disks=" + std::to_string(disks.size()) +
      "' -device ich9-ahci,id=ahci -device qemu-xhci,id=xhci -device virtio-scsi-pci,id=scsi";
  int ahci_port = 0;
  for (size_t i = 0; i < disks.size(); ++i)
    command += DiskArguments(disks[i], static_cast<int>(i), &ahci_port);
  return command + " 2>&1";
}

void ParseConsole(GuestRun* run) {
  std::istringstream lines(run->console);
  std::string line;
  GuestSection* open = nullptr;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.rfind(kMarker, 0) != 0) {
      if (open != nullptr)
        open->output += line + "\n";
      continue;
    }
    std::istringstream words(line.substr(4));
    std::string what, name, value;
    double started = 0, ended = 0;
    words >> what >> name >> value >> started >> ended;
    if (what == "disk") {
      run->device_of_serial[value] = name;
    } else if (what == "begin") {
      open = &run->sections[name];
    } else if (what == "end" && open != nullptr) {
      open->status = std::atoi(value.c_str());
      open->seconds = ended - started;
      open = nullptr;
    } else if (what == "done") {
      run->finished = true;
    }
  }
}

}  // namespace

const GuestSection& GuestRun::Section(const std::string& name) const {
  static const GuestSection missing;
  auto found = sections.find(name);
  return found == sections.end() ? missing : found->second;
}

bool GuestAvailable(std::string* why) {
  *why = TheGuest().why;
  return TheGuest().built;
}

GuestRun BootGuest(const std::vector<GuestDisk>& disks, const std::string& script,
                   const std::string& work_dir) {
  GuestRun run;
  std::string case_file = work_dir + "/case.sh";
  std::string initrd = work_dir + "/initrd.gz";
  FILE* file = std::fopen(case_file.c_str(), "w");
  if (file == nullptr)
    return run;
  std::fputs(script.c_str(), file);
  std::fclose(file);
  std::string pack = Quote(Script()) + " initrd " + Quote(TheGuest().dir) + " " + Quote(initrd) +
                     " " + Quote(QUILLMAR_CLI_BINARY) + " " +
                     Quote(std::string(QUILLMAR_HARDWARE_DIR) + "/guest_init.sh") + " " +
                     Quote(case_file) + " 2>&1";
  if (!Capture(pack, &run.console))
    return run;
  Capture(QemuCommand(initrd, disks), &run.console);
  ParseConsole(&run);
  // For a look at what the guest printed: QUILLMAR_GUEST_CONSOLE=FILE appends it there.
  if (const char* keep = std::getenv("QUILLMAR_GUEST_CONSOLE")) {
    if (FILE* out = std::fopen(keep, "a")) {
      std::fputs(run.console.c_str(), out);
      std::fclose(out);
    }
  }
  return run;
}

}  // namespace quillmar::testing
