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
       [](const std::string& image, Loops*) -> Names {
         return {image, image};
       }},
      {"SymbolicLink", false, false,
       [](const std::string& image, Loops*) -> Names {
         std::string link = image + ".link";
         return {image, ::symlink(image.c_str(), link.c_str()) == 0 ? link : ""};
       }},
      {"HardLink", false, false,
       [](const std::string& image, Loops*) -> Names {
         std::string link = image + ".hard";
         return {image, ::link(image.c_str(), link.c_str()) == 0 ? link : ""};
       }},
      {"LoopDevice", true, false,
       [](const std::string& image, Loops* loops) -> Names {
         return {image, loops->emplace_back(image, std::vector<std::string>{}).path()};
       }},
      {"LoopDeviceWithAnOffset", true, true,
       [](const std::string& image, Loops* loops) -> Names {
         return {
             image,
             loops->emplace_back(image, std::vector<std::string>{"--offset", "1048576"}).path()};
       }},
      {"PartitionAndItsDisk", true, true,
       [](const std::string& image, Loops* loops) -> Names {
         const LoopDevice& disk = loops->emplace_back(image, std::vector<std::string>{"-P"});
         return {disk.path(), disk.path().empty() ? "" : disk.Partition(1)};
       }},
      {"ImageOnAFileSystemOfTheDisk", true, true,
       [](const std::string& image, Loops* loops) -> Names {
         std::string folder = image + ".files";
         std::filesystem::create_directory(folder);
         std::ofstream(folder + "/drive.img").close();
         std::filesystem::resize_file(folder + "/drive.img", 1 << 20);
         LoopDevice& disk = loops->emplace_back(image, std::vector<std::string>{});
         bool mounted = !disk.path().empty() && disk.MountNewFileSystem(folder, image + ".mnt");
         return {disk.path(), mounted ? image + ".mnt/drive.img" : ""};
       }},
  };
  return aliases;
}

}  // namespace quillmar::testing
