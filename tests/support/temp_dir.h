// What every test folder uses: a temporary folder ($TMPDIR or /tmp) that a test owns and removes
// with everything in it, whole files written and read back, and readable names for parameterised
// cases.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

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

// A whole file as bytes or text (empty when it cannot be read).
template <typename Contents = std::vector<uint8_t>>
Contents ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A whole file, written (created or replaced); throws when it cannot be.
inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << std::string(bytes.begin(), bytes.end());
  file.close();
  if (!file)
    throw std::runtime_error("cannot write " + path);
}

// The parameter's name field, not its bytes: the last argument of INSTANTIATE_TEST_SUITE_P.
struct ParamName {
  template <typename Info>
  std::string operator()(const Info& info) const {
    return info.param.name;
  }
};

}  // namespace quillmar::testing
