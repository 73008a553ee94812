// The one interface through which the core reaches the user. A front-end (the Qt dialog, the
// terminal of quillmar-cli, the scripted one of the tests) implements it and registers itself
// with the log facility; nothing in disk/, format/ or ops/ knows which one runs.
#pragma once

#include <string>

namespace quillmar {

// Button codes of a Yes/No question, as the operations compare them.
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// What an open/save file choice shows: the title, the filter in the
// "Text (*.ext)|*.ext|All Files (*.*)|*.*||" form, and the default extension without its dot.
struct FileChoiceRequest {
  bool save = false;  // save dialog (asks before replacing an existing file) or open
  std::string title;
  std::string filter;
  std::string default_extension;
};

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // Adds one entry (possibly multi-line) at the end of the log list and scrolls to it.
  virtual void AddLogLine(const std::string& text) = 0;
  // A modal box with the text, the caption and only an OK button, no icon.
  virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
  // A modal box with Yes and No; returns kIdYes or kIdNo. Whoever cannot answer returns kIdNo.
  virtual int AskYesNo(const std::string& text, const std::string& caption) = 0;
  // The same kind of question, owned by the main window (drive warnings, backup and restore).
  virtual int AskWindowYesNo(const std::string& text, const std::string& caption) = 0;
  // Shows the progress bar with range 0..100 at position 0, moves it, hides it.
  virtual void ProgressShow() = 0;
  virtual void ProgressSetPos(int pos) = 0;
  virtual void ProgressHide() = 0;
  // Lets pending window events run (repaint, timers, clicks) during long work.
  virtual void DrainEvents() = 0;
  // An open or save file choice; true and the chosen path when the user accepted.
  virtual bool ChooseFile(const FileChoiceRequest& request, std::string* path) = 0;
};

}  // namespace quillmar
