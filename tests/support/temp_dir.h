// A temporary folder ($TMPDIR or /tmp) that a test owns and removes with everything in it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace quillmar::testing {

class TempDir {
 public:
  TempDir() : path_(std::filesystem::temp_directory_path() / "quillmar-test-XXXXXX") {
    if (::mkdtemp(path_.data()) == nullptr)
      throw std::runtime_error("mkdtemp failed");
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace quillmar::testing
