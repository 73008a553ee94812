// The log facility: every Part of the program talks to the user through these free functions.
// Lines go to the front-end's log list and to the log file "quillmar.log"; boxes and questions go
// to the front-end. Until a window has registered, lines and progress go nowhere.
#pragma once

#include <string>

#include "base/front_end.h"

namespace quillmar {

// The front-end that shows boxes and questions (set once at start-up; null: every question is
// answered No and boxes are dropped).
void SetFrontEnd(FrontEnd* front_end);
FrontEnd* CurrentFrontEnd();

// Marks the front-end's window as registered: from here on lines and progress are shown and
// logged (the role of the main dialog's registration at its initialisation). Never reset in a
// program run; tests use ResetLogFacility.
void RegisterLogWindow();
bool LogWindowRegistered();

// Where the log file lives; "quillmar.log" in the current directory unless changed before the
// first line is logged.
void SetLogFilePath(const std::string& path);
// A front-end's start: the file given with --log, or for "" the default place of
// ChooseLogFilePath (its folders created when missing). Returns the path chosen. The file is
// opened as a regular file only, never through a link; when it cannot be written, one warning
// line says so in the log list.
std::string SetUpLogFile(const std::string& given);

// Closes the log file and forgets the front-end and the registration (tests start clean).
void ResetLogFacility();

void LogLine(const std::string& text);
void LogAndShow(const std::string& text, const std::string& caption);
int AskYesNo(const std::string& text, const std::string& caption);
bool ConfirmProceed(const std::string& text);
void ProgressBegin();
void ProgressSetPos(int pos);
void ProgressEnd();
void DrainMessageQueue();

// The main window's own Yes/No question (drive warnings, backup and restore); kIdNo when nobody
// can answer. Not logged.
int AskWindowYesNo(const std::string& text, const std::string& caption);
// An open or save file choice through the front-end; false when cancelled or nobody can answer.
bool ChooseFile(const FileChoiceRequest& request, std::string* path);

// printf-style formatting into a std::string of any length.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quillmar
