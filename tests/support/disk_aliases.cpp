#include "tests/support/disk_aliases.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace quillmar::testing {

const std::vector<DiskAlias>& DiskAliases() {
  using Names = std::pair<std::string, std::string>;
  using Loops = std::list<LoopDevice>;
  static const std::vector<DiskAlias> aliases = {
      {"SamePathTwice", false, false,
       [](auto& image, Loops*) -> Names {
         return {image, image};
       }},
      {"SymbolicLink", false, false,
       [](auto& image, Loops*) -> Names {
         return {image, ::symlink(image.c_str(), (image + "~").c_str()) == 0 ? image + "~" : ""};
       }},
      {"HardLink", false, false,
       [](auto& image, Loops*) -> Names {
         return {image, ::link(image.c_str(), (image + "~").c_str()) == 0 ? image + "~" : ""};
       }},
      {"LoopDevice", true, false,
       [](auto& image, Loops* loops) -> Names {
         return {image, loops->emplace_back(image).path()};
       }},
      {"LoopDeviceWithAnOffset", true, true,
       [](auto& image, Loops* loops) -> Names {
         return {image, loops->emplace_back(image, "--offset 1048576").path()};
       }},
      {"PartitionAndItsDisk", true, true,
       [](auto& image, Loops* loops) -> Names {
         const LoopDevice& disk = loops->emplace_back(image, "-P");
         return {disk.path(), disk.path().empty() ? "" : disk.Partition(1)};
       }},
      {"ImageOnAFileSystemOfTheDisk", true, true,
       [](auto& image, Loops* loops) -> Names {
         std::filesystem::create_directory(image + ".files");
         std::ofstream(image + ".files/drive.img") << std::string(4096, 'q');
         LoopDevice& disk = loops->emplace_back(image);
         bool made = !disk.path().empty() && disk.MountNewFileSystem(image + ".files", image + "~");
         return {disk.path(), made ? image + "~/drive.img" : ""};
       }},
  };
  return aliases;
}

}  // namespace quillmar::testing
