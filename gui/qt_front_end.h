// The Qt face of the log facility: log lines go to the window's log list, progress to its
// progress bar, boxes, questions and file choices to Qt's modal dialogs owned by the window.
// A prompt delegate (the scripted front-end of the tests) can take over the boxes, questions
// and file choices; it also sees every line and progress call, which still reach the widgets.
#pragma once

#include <string>

#include "base/front_end.h"

class QListWidget;
class QProgressBar;
class QWidget;

namespace quillmar {

class QtFrontEnd : public FrontEnd {
 public:
  // cancel_button (optional) shows and hides with the progress bar.
  QtFrontEnd(QWidget* window, QListWidget* log_list, QProgressBar* progress_bar,
             QWidget* cancel_button = nullptr);

  // nullptr: Qt's own dialogs answer.
  void SetPromptDelegate(FrontEnd* delegate) { delegate_ = delegate; }
  FrontEnd* prompt_delegate() const { return delegate_; }

  void AddLogLine(const std::string& text) override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  int AskYesNo(const std::string& text, const std::string& caption) override;
  int AskWindowYesNo(const std::string& text, const std::string& caption) override;
  void ProgressShow() override;
  void ProgressSetPos(int pos) override;
  void ProgressHide() override;
  void DrainEvents() override;
  bool ChooseFile(const FileChoiceRequest& request, std::string* path) override;

 private:
  int AskQuestion(const std::string& text, const std::string& caption);

  QWidget* window_;
  QListWidget* log_list_;
  QProgressBar* progress_bar_;
  QWidget* cancel_button_;
  FrontEnd* delegate_ = nullptr;
};

}  // namespace quillmar
