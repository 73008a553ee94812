// A stdio stream in memory that a test can fill before and read after.
#pragma once

#include <cstdio>
#include <string>

namespace quillmar::testing {

class MemoryStream {
 public:
  explicit MemoryStream(const std::string& content = "") : file_(std::tmpfile()) {
    std::fputs(content.c_str(), file_);
    std::rewind(file_);
  }
  ~MemoryStream() { std::fclose(file_); }
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;

  std::FILE* get() { return file_; }
  std::string Text() {
    std::fflush(file_);
    std::rewind(file_);
    std::string text;
    int c;
    while ((c = std::fgetc(file_)) != EOF)
      text += static_cast<char>(c);
    return text;
  }

 private:
  std::FILE* file_;
};

}  // namespace quillmar::testing
