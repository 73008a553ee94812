// A front-end for tests and the fuzz target: records every log line, box and progress call, and
// answers questions and file choices from queues. A question with no queued answer (and no
// fallback) fails the test and is answered No, so an unexpected question never writes anything.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/front_end.h"
#include "base/log.h"

namespace quillmar::testing {

struct Box {
  std::string text;
  std::string caption;
};

class ScriptedFrontEnd : public FrontEnd {
 public:
  // Installs itself as the front-end, registers the log window (unless told not to) and sends
  // the log file to log_path ("" keeps the default). The destructor resets the log facility.
  explicit ScriptedFrontEnd(bool register_window = true, const std::string& log_path = "") {
    ResetLogFacility();
    if (!log_path.empty())
      SetLogFilePath(log_path);
    SetFrontEnd(this);
    if (register_window)
      RegisterLogWindow();
  }
  ~ScriptedFrontEnd() override { ResetLogFacility(); }
  ScriptedFrontEnd(const ScriptedFrontEnd&) = delete;
  ScriptedFrontEnd& operator=(const ScriptedFrontEnd&) = delete;

  // Queued answers; AskYesNo and the window's questions share one queue, taken in order.
  void Answer(bool yes) { answers_.push_back(yes); }
  void AnswerAll(std::initializer_list<bool> answers) { answers_.insert(answers_.end(), answers); }
  void ChooseFileAnswer(const std::string& path) { files_.emplace_back(path); }
  void CancelFileChoice() { files_.emplace_back(std::nullopt); }
  // From here on every question without a queued answer is answered by next() (or Yes).
  void AnswerWith(std::function<bool()> next) { fallback_ = std::move(next); }
  void AlwaysYes() {
    AnswerWith([] { return true; });
  }

  const std::vector<std::string>& lines() const { return lines_; }
  const std::vector<Box>& boxes() const { return boxes_; }
  const std::vector<Box>& questions() const { return questions_; }
  const std::vector<int>& progress() const { return progress_; }
  int progress_shown() const { return progress_shown_; }
  int progress_hidden() const { return progress_hidden_; }
  bool progress_visible() const { return progress_visible_; }
  size_t unanswered() const { return answers_.size(); }
  bool Logged(const std::string& text) const {
    return std::find(lines_.begin(), lines_.end(), text) != lines_.end();
  }
  bool LoggedContaining(const std::string& fragment) const {
    return std::any_of(lines_.begin(), lines_.end(),
                       [&](const std::string& line) { return line.find(fragment) != line.npos; });
  }
  // All lines, each ended by "\n", for failure messages.
  std::string Transcript() const {
    std::string all;
    for (const std::string& line : lines_)
      all += line + "\n";
    return all;
  }

  void AddLogLine(const std::string& text) override { lines_.push_back(text); }
  void ShowMessage(const std::string& text, const std::string& caption) override {
    boxes_.push_back({text, caption});
  }
  int AskYesNo(const std::string& text, const std::string& caption) override {
    return NextAnswer(text, caption);
  }
  int AskWindowYesNo(const std::string& text, const std::string& caption) override {
    return NextAnswer(text, caption);
  }
  void ProgressShow() override {
    ++progress_shown_;
    progress_visible_ = true;
    progress_.push_back(0);
  }
  void ProgressSetPos(int pos) override { progress_.push_back(pos); }
  void ProgressHide() override {
    ++progress_hidden_;
    progress_visible_ = false;
  }
  void DrainEvents() override {}
  bool ChooseFile(const FileChoiceRequest& request, std::string* path) override {
    if (files_.empty())
      ADD_FAILURE() << "unexpected file choice: " << request.title;
    std::optional<std::string> choice = files_.empty() ? std::nullopt : files_.front();
    if (!files_.empty())
      files_.pop_front();
    if (choice)
      *path = *choice;
    return choice.has_value();
  }

 private:
  int NextAnswer(const std::string& text, const std::string& caption) {
    questions_.push_back({text, caption});
    if (answers_.empty() && !fallback_)
      ADD_FAILURE() << "unexpected question [" << caption << "]: " << text;
    bool yes = answers_.empty() ? fallback_ && fallback_() : answers_.front();
    if (!answers_.empty())
      answers_.pop_front();
    return yes ? kIdYes : kIdNo;
  }

  std::deque<bool> answers_;
  std::deque<std::optional<std::string>> files_;
  std::function<bool()> fallback_;
  std::vector<std::string> lines_;
  std::vector<Box> boxes_;
  std::vector<Box> questions_;
  std::vector<int> progress_;
  int progress_shown_ = 0;
  int progress_hidden_ = 0;
  bool progress_visible_ = false;
};

}  // namespace quillmar::testing
