// What the operation tests share: image files in a temporary folder used as drives 0, 1, ...
// through the drive map and the classification, a scripted front-end, clean process state, and
// hashes of every image for "nothing was written" checks.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "drives/classify.h"
#include "tests/support/disk_image.h"
#include "tests/support/param_names.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar::testing {

class OpsTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Image(const std::string& name) const { return dir_.File(name); }
  // Maps the paths as drives 0, 1, ... and classifies them (the probe's lines are not recorded).
  void UseDrives(const std::vector<std::string>& paths);
  // The drive list's refresh after an operation.
  void Refresh() { ClassifyDrives(); }
  static const DriveInfo& Drive(int index) { return DriveTable[static_cast<size_t>(index)]; }

  // The front-end, created on first use (after the fixtures have been written).
  ScriptedFrontEnd& ui();
  // Remembers the hash of every mapped image; Unchanged() compares them again.
  void Snapshot();
  ::testing::AssertionResult Unchanged() const;

  // The texts of the questions asked so far, in order.
  std::vector<std::string> QuestionTexts();
  // The last box shown, or an empty one.
  Box LastBox();

  TempDir dir_;
  std::vector<std::string> paths_;

 private:
  std::unique_ptr<ScriptedFrontEnd> ui_;
  std::map<std::string, uint64_t> hashes_;
};

// The confirmation prompt as ConfirmProceed shows it.
std::string Confirmation(const std::string& text);

}  // namespace quillmar::testing
