// The log file: which path a run logs to, and how it is opened. "quillmar.log" in the current
// folder when that folder can be written; otherwise (a start from the desktop's menu, where the
// current folder is "/") in the user's state folder. It is opened for appending as a regular
// file only, never through a symbolic link: as root, a link planted in the current folder must
// not make the log append to a drive image or any other file.
#pragma once

#include <string>

namespace quillmar {

// What the choice of the log file depends on, read from the process and its environment.
struct LogPlace {
  std::string cwd;  // the current folder, absolute
  bool cwd_writable = false;
  std::string state_home;  // $XDG_STATE_HOME; "" when unset or relative
  std::string home;        // $HOME (else the passwd entry's), or that of the user who ran pkexec
};

// The log file for a place: cwd/quillmar.log when the current folder can be written and is not
// "/"; otherwise state_home/quillmar/quillmar.log, with state_home defaulting to
// home/.local/state. *folders_from, if given: where the folders of the state folder are made
// from (home, which must exist, or the deepest existing folder of state_home), or "" for the
// current folder.
std::string ChooseLogFilePath(const LogPlace& place, std::string* folders_from = nullptr);

// The place of this process. Started through pkexec (PKEXEC_UID set), the log goes to the state
// folder of the user who ran pkexec, not to root's home where pkexec starts it.
LogPlace CurrentLogPlace();

// Opens path for appending: created when absent, refused when it is a symbolic link, a folder or
// anything else but a regular file. With folders_from (a leading part of path, which must exist)
// its missing parent folders below folders_from are made, and none of those may be a symbolic link
// (refused as the file is: the home's user can plant one there, and root must not follow it).
// Returns the descriptor, or -errno. Folders and a file created as root (through pkexec or sudo)
// in a folder of the user who ran it are handed to that user, so that their own later runs can
// write there too.
int OpenLogFileForAppend(const std::string& path, const std::string& folders_from);

// Why the log file could not be opened, from OpenLogFileForAppend's -errno.
std::string LogFileProblem(int error);

}  // namespace quillmar
