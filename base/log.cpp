#include "base/log.h"

#include <cstdarg>
#include <cstdio>

namespace quillmar {
namespace {

constexpr size_t kFormatBufferSize = 1000;
constexpr size_t kConfirmBufferSize = 2000;

struct LogState {
  FrontEnd* front_end = nullptr;
  bool window_registered = false;
  std::FILE* file = nullptr;
  std::string file_path = "quillmar.log";
};

LogState& State() {
  static LogState state;
  return state;
}

void AppendToLogFile(const std::string& text) {
  LogState& state = State();
  if (state.file == nullptr) {
    state.file = std::fopen(state.file_path.c_str(), "a+");
    if (state.file == nullptr) return;  // tried again with the next line
  }
  std::fprintf(state.file, "%s\n", text.c_str());
  std::fflush(state.file);  // a crash must not lose what was logged
}

}  // namespace

void SetFrontEnd(FrontEnd* front_end) { State().front_end = front_end; }
FrontEnd* CurrentFrontEnd() { return State().front_end; }

void RegisterLogWindow() { State().window_registered = true; }
bool LogWindowRegistered() { return State().window_registered; }

void SetLogFilePath(const std::string& path) { State().file_path = path; }

void ResetLogFacility() {
  LogState& state = State();
  if (state.file != nullptr) std::fclose(state.file);
  state = LogState{};
}

void LogLine(const std::string& text) {
  LogState& state = State();
  if (!state.window_registered || state.front_end == nullptr) return;
  state.front_end->AddLogLine(text);
  DrainMessageQueue();
  AppendToLogFile(text);
}

void LogAndShow(const std::string& text, const std::string& caption) {
  LogLine(text);
  if (FrontEnd* front_end = State().front_end) front_end->ShowMessage(text, caption);
}

int AskYesNo(const std::string& text, const std::string& caption) {
  FrontEnd* front_end = State().front_end;
  return front_end == nullptr ? kIdNo : front_end->AskYesNo(text, caption);
}

bool ConfirmProceed(const std::string& text) {
  std::string question = text + "\nDo you really want to proceed?";
  if (question.size() >= kConfirmBufferSize) question.resize(kConfirmBufferSize - 1);
  return AskYesNo(question, "Proceed?") == kIdYes;
}

void ProgressBegin() {
  LogState& state = State();
  if (!state.window_registered || state.front_end == nullptr) return;
  state.front_end->ProgressShow();
}

void ProgressSetPos(int pos) {
  LogState& state = State();
  if (!state.window_registered || state.front_end == nullptr) return;
  state.front_end->ProgressSetPos(pos);
  DrainMessageQueue();
}

void ProgressEnd() {
  LogState& state = State();
  if (!state.window_registered || state.front_end == nullptr) return;
  state.front_end->ProgressHide();
}

void DrainMessageQueue() {
  if (FrontEnd* front_end = State().front_end) front_end->DrainEvents();
}

int AskWindowYesNo(const std::string& text, const std::string& caption) {
  FrontEnd* front_end = State().front_end;
  return front_end == nullptr ? kIdNo : front_end->AskWindowYesNo(text, caption);
}

bool ChooseFile(const FileChoiceRequest& request, std::string* path) {
  FrontEnd* front_end = State().front_end;
  return front_end != nullptr && front_end->ChooseFile(request, path);
}

std::string Format(const char* format, ...) {
  char buffer[kFormatBufferSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

}  // namespace quillmar
