#include "tests/ops/ops_test_env.h"

#include "base/log.h"
#include "base/settings.h"
#include "disk/drive_map.h"

namespace quillmar::testing {

void OpsTest::SetUp() {
  ResetLogFacility();
  ResetSettings();
  ResetDriveTable();
}

void OpsTest::TearDown() {
  ui_.reset();
  SetDrivePaths({});
  ResetDriveTable();
  ResetSettings();
  ResetLogFacility();
}

void OpsTest::UseDrives(const std::vector<std::string>& paths) {
  paths_ = paths;
  SetDrivePaths(paths);
  ResetDriveTable();
  ClassifyDrives();
}

ScriptedFrontEnd& OpsTest::ui() {
  if (!ui_)
    ui_ = std::make_unique<ScriptedFrontEnd>(true, dir_.File("quillmar.log"));
  return *ui_;
}

void OpsTest::Snapshot() {
  hashes_.clear();
  for (const std::string& path : paths_)
    hashes_[path] = ImageHash(path);
}

::testing::AssertionResult OpsTest::Unchanged() const {
  for (const auto& [path, hash] : hashes_) {
    if (ImageHash(path) != hash)
      return ::testing::AssertionFailure() << path << " was changed";
  }
  return ::testing::AssertionSuccess();
}

std::vector<std::string> OpsTest::QuestionTexts() {
  std::vector<std::string> texts;
  for (const Box& question : ui().questions())
    texts.push_back(question.text);
  return texts;
}

Box OpsTest::LastBox() {
  return ui().boxes().empty() ? Box{} : ui().boxes().back();
}

std::string Confirmation(const std::string& text) {
  return text + "\nDo you really want to proceed?";
}

}  // namespace quillmar::testing
