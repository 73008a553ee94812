#include "ops/operation_steps.h"

#include "ops/drive_checks.h"

namespace quillmar {
namespace {

std::string Joined(const std::vector<std::string>& steps) {
  std::string text;
  for (const std::string& step : steps)
    text += (text.empty() ? "" : ", ") + step;
  return text.empty() ? "nothing" : text;
}

}  // namespace

bool OperationSteps::Run(bool succeeded, const char* step) {
  (succeeded ? done_ : not_done_).push_back(step);
  return succeeded;
}

int OperationSteps::Close() const {
  if (not_done_.empty())
    return 0;
  ShowError("*** ERROR: The " + operation_ + " is not complete.\n           Done: " +
            Joined(done_) + ".\n           Not done: " + Joined(not_done_) + ".");
  return -1;
}

}  // namespace quillmar
