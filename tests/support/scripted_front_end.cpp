#include "tests/support/scripted_front_end.h"

#include <gtest/gtest.h>

#include "base/log.h"

namespace quillmar::testing {

ScriptedFrontEnd::ScriptedFrontEnd(bool register_window, const std::string& log_path) {
  ResetLogFacility();
  if (!log_path.empty()) SetLogFilePath(log_path);
  SetFrontEnd(this);
  if (register_window) RegisterLogWindow();
}

ScriptedFrontEnd::~ScriptedFrontEnd() { ResetLogFacility(); }

void ScriptedFrontEnd::AnswerAll(std::initializer_list<bool> answers) {
  for (bool yes : answers) answers_.push_back(yes);
}

bool ScriptedFrontEnd::Logged(const std::string& text) const {
  for (const std::string& line : lines_) {
    if (line == text) return true;
  }
  return false;
}

bool ScriptedFrontEnd::LoggedContaining(const std::string& fragment) const {
  for (const std::string& line : lines_) {
    if (line.find(fragment) != std::string::npos) return true;
  }
  return false;
}

std::string ScriptedFrontEnd::Transcript() const {
  std::string all;
  for (const std::string& line : lines_) all += line + "\n";
  return all;
}

void ScriptedFrontEnd::AddLogLine(const std::string& text) { lines_.push_back(text); }

void ScriptedFrontEnd::ShowMessage(const std::string& text, const std::string& caption) {
  boxes_.push_back({text, caption});
}

int ScriptedFrontEnd::NextAnswer(const std::string& text, const std::string& caption) {
  questions_.push_back({text, caption});
  if (answers_.empty()) {
    if (always_yes_) return kIdYes;
    ADD_FAILURE() << "unexpected question [" << caption << "]: " << text;
    return kIdNo;
  }
  bool yes = answers_.front();
  answers_.pop_front();
  return yes ? kIdYes : kIdNo;
}

int ScriptedFrontEnd::AskYesNo(const std::string& text, const std::string& caption) {
  return NextAnswer(text, caption);
}

int ScriptedFrontEnd::AskWindowYesNo(const std::string& text, const std::string& caption) {
  return NextAnswer(text, caption);
}

void ScriptedFrontEnd::ProgressShow() {
  ++progress_shown_;
  progress_visible_ = true;
  progress_.push_back(0);
}

void ScriptedFrontEnd::ProgressSetPos(int pos) { progress_.push_back(pos); }

void ScriptedFrontEnd::ProgressHide() {
  ++progress_hidden_;
  progress_visible_ = false;
}

bool ScriptedFrontEnd::ChooseFile(const FileChoiceRequest& request, std::string* path) {
  file_requests_.push_back(request);
  if (files_.empty()) {
    ADD_FAILURE() << "unexpected file choice: " << request.title;
    return false;
  }
  std::optional<std::string> choice = files_.front();
  files_.pop_front();
  if (!choice) return false;
  *path = *choice;
  return true;
}

}  // namespace quillmar::testing
