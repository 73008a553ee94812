// A front-end for tests: records every log line, box and progress call, and answers questions
// and file choices from queues. A question with no queued answer fails the test and is answered
// No, so an unexpected question never writes anything.
#pragma once

#include <deque>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "base/front_end.h"

namespace quillmar::testing {

struct Box {
  std::string text;
  std::string caption;
};

class ScriptedFrontEnd : public FrontEnd {
 public:
  // Installs itself as the front-end, registers the log window (unless told not to) and sends
  // the log file to log_path ("" keeps the default). The destructor resets the log facility.
  explicit ScriptedFrontEnd(bool register_window = true, const std::string& log_path = "");
  ~ScriptedFrontEnd() override;
  ScriptedFrontEnd(const ScriptedFrontEnd&) = delete;
  ScriptedFrontEnd& operator=(const ScriptedFrontEnd&) = delete;

  // Queued answers; AskYesNo and the window's questions share one queue, taken in order.
  void Answer(bool yes) { answers_.push_back(yes); }
  void AnswerAll(std::initializer_list<bool> answers);
  void ChooseFileAnswer(const std::string& path) { files_.emplace_back(path); }
  void CancelFileChoice() { files_.emplace_back(std::nullopt); }
  // From here on every question without a queued answer is answered Yes.
  void AlwaysYes() { always_yes_ = true; }

  const std::vector<std::string>& lines() const { return lines_; }
  const std::vector<Box>& boxes() const { return boxes_; }
  const std::vector<Box>& questions() const { return questions_; }
  const std::vector<FileChoiceRequest>& file_requests() const { return file_requests_; }
  const std::vector<int>& progress() const { return progress_; }
  int progress_shown() const { return progress_shown_; }
  int progress_hidden() const { return progress_hidden_; }
  bool progress_visible() const { return progress_visible_; }
  size_t unanswered() const { return answers_.size(); }
  bool Logged(const std::string& text) const;
  bool LoggedContaining(const std::string& fragment) const;
  // All lines joined with "\n", for failure messages.
  std::string Transcript() const;

  void AddLogLine(const std::string& text) override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  int AskYesNo(const std::string& text, const std::string& caption) override;
  int AskWindowYesNo(const std::string& text, const std::string& caption) override;
  void ProgressShow() override;
  void ProgressSetPos(int pos) override;
  void ProgressHide() override;
  void DrainEvents() override {}
  bool ChooseFile(const FileChoiceRequest& request, std::string* path) override;

 private:
  int NextAnswer(const std::string& text, const std::string& caption);

  std::deque<bool> answers_;
  std::deque<std::optional<std::string>> files_;
  bool always_yes_ = false;
  std::vector<std::string> lines_;
  std::vector<Box> boxes_;
  std::vector<Box> questions_;
  std::vector<FileChoiceRequest> file_requests_;
  std::vector<int> progress_;
  int progress_shown_ = 0;
  int progress_hidden_ = 0;
  bool progress_visible_ = false;
};

}  // namespace quillmar::testing
