#include "ops/safety_nets.h"

#include <optional>
#include <string>

#include "base/log.h"
#include "ops/drive_checks.h"
#include "ops/listed_drives_guard.h"
#include "ops/undo_replay.h"
#include "ops/verify.h"

namespace quillmar {
namespace {

constexpr const char* kUndoFilter = "Quillmar undo files (*.qun)|*.qun|All Files (*.*)|*.*||";

FileChoiceRequest UndoFileChoice(bool save, const char* title) {
  FileChoiceRequest request;
  request.save = save;
  request.title = title;
  request.filter = kUndoFilter;
  request.default_extension = "qun";
  return request;
}

}  // namespace

int RunWithSafetyNets(const SafetyNets& nets, const std::function<int()>& operation,
                      int* changed_drive) {
  SetVerifyAfterCopy(nets.verify);
  std::optional<UndoRecorder> recorder;
  if (nets.undo_path)
    recorder.emplace(nets.undo_path, nets.undo_limit);
  ListedDrivesGuard guard;  // over the recorder: the undo file is made only after the check
  int result = operation();
  if (changed_drive != nullptr)
    *changed_drive = guard.changed_drive();
  if (recorder && recorder->Finish() != 0)
    result = -1;
  SetVerifyAfterCopy(false);
  return result;
}

UndoPathChooser AskUndoFilePath() {
  return [](std::string* path) {
    while (ChooseFile(UndoFileChoice(true, "Save undo file"), path)) {
      std::string problem = NewUndoFileProblem(*path);
      if (problem.empty())
        return DrivesStillAsListed();  // the dialog may have waited long
      ShowError(problem);
    }
    path->clear();  // cancelled
    return false;
  };
}

int UndoFromChosenFile() {
  std::string path;
  if (!ChooseFile(UndoFileChoice(false, "Undo from file"), &path))
    return -1;
  return UndoFromFile(path, false);
}

}  // namespace quillmar
