// The front-end of quillmar-cli: log lines, message boxes and questions on standard error (the
// results of a command alone go to standard output), questions with their caption, answered by
// a flag, by --yes, or on the terminal; a question that finds no answer is answered No and
// remembered, so the command can fail. Once a stop was requested (Ctrl-C), also at the prompt,
// every question is answered No.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "base/front_end.h"
#include "cli/progress_display.h"

namespace quillmar::cli {

// A preset answer and the flag that gave it, for the record ("--mpeg keep").
struct PresetAnswer {
  bool yes = false;
  std::string flag;
};

struct AnswerPolicy {
  bool yes_to_confirmations = false;  // --yes
  bool terminal = false;              // standard input is a terminal: ask there
  bool decline_everything = false;    // a question will have no answer: answer all of them No
  std::map<std::string, PresetAnswer> presets;  // answers given by flags, by caption
  std::map<std::string, std::string> hints;     // the flag that would answer a question
  std::string file;  // the FILE of backup and restore: the answer to the file choice
};

// The captions of the questions that choose what to do rather than confirm it: the patch's
// three and the restore's one. --yes does not answer them, only their flags or the terminal do.
inline constexpr char kResetCaption[] = "Reset MPEG partition";
inline constexpr char kReformatCaption[] = "Reformat MPEG partition";
inline constexpr char kPhotoCaption[] = "Reformat photo partition";
inline constexpr char kRestoreResetCaption[] = "Reset MPEG partition?";
bool IsChoiceQuestion(const std::string& caption);

// "[caption] text", the text's further lines aligned under its first.
std::string RenderBox(const std::string& caption, const std::string& text);

class TerminalFrontEnd final : public FrontEnd {
 public:
  // out: standard output, which the front-end leaves to the command's results.
  TerminalFrontEnd(AnswerPolicy policy, std::FILE* out, std::FILE* err, std::FILE* in,
                   ProgressDisplay* progress);

  // A question found no answer (and was answered No).
  bool unanswered() const { return unanswered_; }
  // From here on every question is answered No (one of them would find no answer, and the
  // command must not write anything before it finds that out).
  void DeclineEverything() { policy_.decline_everything = true; }
  // --quiet: log lines stay off the terminal, but for errors and warnings ("*** ERROR",
  // "*** WARNING"), failed or stopped copies and drives refused for want of rights; boxes and
  // questions still show.
  void SetQuiet(bool quiet) { quiet_ = quiet; }

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
  int Ask(const std::string& text, const std::string& caption);
  bool ReadAnswer();
  void Write(std::FILE* stream, const std::string& text);

  AnswerPolicy policy_;
  std::FILE* err_;
  std::FILE* in_;
  ProgressDisplay* progress_;
  bool unanswered_ = false;
  bool quiet_ = false;
};

}  // namespace quillmar::cli
