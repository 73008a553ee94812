// The steps of an operation that writes in several steps, each reporting its own failure; when
// one failed, the closing box names what was done and what was not, so that nobody takes a half
// patched or half joined disk for a finished one.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quillmar {

class OperationSteps {
 public:
  // operation: as the box names it ("patch": "The patch is not complete.").
  explicit OperationSteps(std::string operation) : operation_(std::move(operation)) {}

  // Records a step; false when it failed.
  bool Run(bool succeeded, const char* step);
  void Skip(const char* step) { not_done_.push_back(step); }
  // 0 when every step was done; otherwise the closing box, and -1.
  int Close() const;

 private:
  std::string operation_;
  std::vector<std::string> done_;
  std::vector<std::string> not_done_;
};

}  // namespace quillmar
