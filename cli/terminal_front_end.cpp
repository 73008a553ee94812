#include "cli/terminal_front_end.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>

#include "base/shown_path.h"
#include "disk/copy_stop.h"

namespace quillmar::cli {
namespace {

std::string Trimmed(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
    ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
    --end;
  std::string trimmed = text.substr(begin, end - begin);
  std::transform(trimmed.begin(), trimmed.end(), trimmed.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return trimmed;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The log lines --quiet still shows: errors and warnings, a copy that failed or was stopped, and
// drives that could not be opened for want of rights.
bool IsProblemLine(const std::string& text) {
  static const std::array<const char*, 5> kPrefixes = {
      "*** ERROR", "*** WARNING", "ERROR: ", "*** Copy interrupted",
      "Some drives could not be opened: permission denied"};
  return std::any_of(kPrefixes.begin(), kPrefixes.end(),
                     [&text](const char* prefix) { return text.rfind(prefix, 0) == 0; });
}

constexpr char kInterruptedNo[] = "  -> No (interrupted)\n";

}  // namespace

bool IsChoiceQuestion(const std::string& caption) {
  static const std::array<const char*, 4> kChoices = {kResetCaption, kReformatCaption,
                                                      kPhotoCaption, kRestoreResetCaption};
  return std::find(kChoices.begin(), kChoices.end(), caption) != kChoices.end();
}

std::string RenderBox(const std::string& caption, const std::string& text) {
  std::string head = "[" + caption + "] ";
  std::string indent(head.size(), ' ');
  std::string box = head;
  for (char c : text) {
    box += c;
    if (c == '\n')
      box += indent;
  }
  return box + "\n";
}

TerminalFrontEnd::TerminalFrontEnd(AnswerPolicy policy, std::FILE* /*out*/, std::FILE* err,
                                   std::FILE* in, ProgressDisplay* progress)
    : policy_(std::move(policy)), err_(err), in_(in), progress_(progress) {}

void TerminalFrontEnd::Write(std::FILE* stream, const std::string& text) {
  if (progress_ != nullptr)
    progress_->Clear();
  std::fputs(text.c_str(), stream);
  std::fflush(stream);
  if (progress_ != nullptr)
    progress_->Redraw();
}

void TerminalFrontEnd::AddLogLine(const std::string& text) {
  if (quiet_ && !IsProblemLine(text))
    return;
  Write(err_, text + "\n");
}

void TerminalFrontEnd::ShowMessage(const std::string& text, const std::string& caption) {
  Write(err_, RenderBox(caption, text));
}

int TerminalFrontEnd::AskYesNo(const std::string& text, const std::string& caption) {
  return Ask(text, caption);
}

int TerminalFrontEnd::AskWindowYesNo(const std::string& text, const std::string& caption) {
  return Ask(text, caption);
}

int TerminalFrontEnd::Ask(const std::string& text, const std::string& caption) {
  Write(err_, RenderBox(caption, text));
  if (CopyStopRequested()) {  // Ctrl-C: the command is to stop, not to go on
    Write(err_, kInterruptedNo);
    return kIdNo;
  }
  if (policy_.decline_everything) {
    Write(err_, "  -> No (not every question of this command has an answer here)\n");
    unanswered_ = true;
    return kIdNo;
  }
  if (auto preset = policy_.presets.find(caption); preset != policy_.presets.end()) {
    const PresetAnswer& answer = preset->second;
    Write(err_, std::string("  -> ") + (answer.yes ? "Yes" : "No") + " (" + answer.flag + ")\n");
    return answer.yes ? kIdYes : kIdNo;
  }
  bool choice = IsChoiceQuestion(caption);
  if (!choice && policy_.yes_to_confirmations) {
    Write(err_, "  -> Yes (--yes)\n");
    return kIdYes;
  }
  if (policy_.terminal) {
    Write(err_, "  Yes or No? [y/N] ");
    return ReadAnswer() ? kIdYes : kIdNo;
  }
  std::string hint = "--yes";
  if (auto found = policy_.hints.find(caption); found != policy_.hints.end())
    hint = found->second;
  Write(err_, "  -> No (no terminal to ask on; " + hint + " answers this question)\n");
  unanswered_ = true;
  return kIdNo;
}

bool TerminalFrontEnd::ReadAnswer() {
  std::string line;
  int c;
  while ((c = std::fgetc(in_)) != EOF && c != '\n')
    line += static_cast<char>(c);
  if (c == EOF)
    Write(err_, "\n");
  if (CopyStopRequested()) {  // Ctrl-C at the prompt ends the read (the signal does not restart it)
    Write(err_, kInterruptedNo);
    return false;
  }
  std::string answer = Trimmed(line);
  return answer == "y" || answer == "yes";
}

void TerminalFrontEnd::ProgressShow() {
  if (progress_ != nullptr)
    progress_->Begin();
}

void TerminalFrontEnd::ProgressSetPos(int pos) {
  if (progress_ != nullptr)
    progress_->SetPos(pos);
}

void TerminalFrontEnd::ProgressHide() {
  if (progress_ != nullptr)
    progress_->End();
}

bool TerminalFrontEnd::ChooseFile(const FileChoiceRequest& request, std::string* path) {
  if (policy_.file.empty()) {
    Write(err_, "[" + request.title + "] no file given\n");
    unanswered_ = true;
    return false;
  }
  const std::string shown = ShownPath(policy_.file);
  Write(err_, "[" + request.title + "] " + shown + "\n");
  if (IsFolder(policy_.file)) {  // a file dialog picks files only
    Write(err_, shown + "\nis a folder, not a file.\n");
    return false;
  }
  if (request.save) {
    if (Exists(policy_.file) &&
        Ask(shown + " already exists.\nDo you want to replace it?", request.title) != kIdYes) {
      return false;
    }
  } else if (!Exists(policy_.file)) {
    Write(err_, shown + "\nFile not found.\nCheck the file name and try again.\n");
    return false;
  }
  *path = policy_.file;
  return true;
}

}  // namespace quillmar::cli
