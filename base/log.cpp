#include "base/log.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "base/log_file.h"
#include "base/shown_path.h"

namespace quillmar {
namespace {

struct LogState {
  FrontEnd* front_end = nullptr;
  bool window_registered = false;
  int fd = -1;
  std::string file_path = "quillmar.log";
  std::string folders_from;  // the default place in the state folder: its folders made from here
  bool warned = false;       // the log file's problem was shown once
};

LogState& State() {
  static LogState state;
  return state;
}

// Said once per run in the log list (never in the file it is about).
void WarnLogFileUnwritable(int error) {
  LogState& state = State();
  if (state.warned || state.front_end == nullptr)
    return;
  state.warned = true;
  state.front_end->AddLogLine(
      Format("*** WARNING: The log file %s cannot be written (%s); "
             "this run's lines are not saved.",
             ShownPath(state.file_path).c_str(), LogFileProblem(error).c_str()));
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void AppendToLogFile(const std::string& text) {
  LogState& state = State();
  if (state.fd < 0) {
    int fd = OpenLogFileForAppend(state.file_path, state.folders_from);
    if (fd < 0) {  // tried again with the next line
      WarnLogFileUnwritable(fd);
      return;
    }
    state.fd = fd;
  }
  // Unbuffered: a crash must not lose what was logged.
  if (!WriteAll(state.fd, text + "\n"))
    WarnLogFileUnwritable(errno == 0 ? -EIO : -errno);
}

}  // namespace

void SetFrontEnd(FrontEnd* front_end) {
  State().front_end = front_end;
}
FrontEnd* CurrentFrontEnd() {
  return State().front_end;
}

void RegisterLogWindow() {
  State().window_registered = true;
}
bool LogWindowRegistered() {
  return State().window_registered;
}

void SetLogFilePath(const std::string& path) {
  State().file_path = path;
  State().folders_from.clear();
}

std::string SetUpLogFile(const std::string& given) {
  LogState& state = State();
  state.folders_from.clear();
  state.file_path =
      given.empty() ? ChooseLogFilePath(CurrentLogPlace(), &state.folders_from) : given;
  return state.file_path;
}

void ResetLogFacility() {
  LogState& state = State();
  if (state.fd >= 0)
    ::close(state.fd);
  state = LogState{};
}

void LogLine(const std::string& text) {
  LogState& state = State();
  if (!state.window_registered || state.front_end == nullptr)
    return;
  state.front_end->AddLogLine(text);
  DrainMessageQueue();
  AppendToLogFile(text);
}

void LogAndShow(const std::string& text, const std::string& caption) {
  LogLine(text);
  if (FrontEnd* front_end = State().front_end)
    front_end->ShowMessage(text, caption);
}

int AskYesNo(const std::string& text, const std::string& caption) {
  FrontEnd* front_end = State().front_end;
  return front_end == nullptr ? kIdNo : front_end->AskYesNo(text, caption);
}

bool ConfirmProceed(const std::string& text) {
  // Whole, however long its paths: a question cut short could leave out the disk it destroys.
  return AskYesNo(text + "\nDo you really want to proceed?", "Proceed?") == kIdYes;
}

void ProgressBegin() {
  LogState& state = State();
  if (!state.window_registered || state.front_end == nullptr)
    return;
  state.front_end->ProgressShow();
}

void ProgressSetPos(int pos) {
  LogState& state = State();
  if (!state.window_registered || state.front_end == nullptr)
    return;
  state.front_end->ProgressSetPos(pos);
  DrainMessageQueue();
}

void ProgressEnd() {
  LogState& state = State();
  if (!state.window_registered || state.front_end == nullptr)
    return;
  state.front_end->ProgressHide();
}

void DrainMessageQueue() {
  if (FrontEnd* front_end = State().front_end)
    front_end->DrainEvents();
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
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0)
    std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

}  // namespace quillmar
