#include "base/log_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace quillmar {
namespace {

constexpr char kLogFileName[] = "quillmar.log";

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? "" : value;
}

// The user who ran pkexec, when this process was started through it and runs as root.
bool InvokingUser(uid_t* uid, gid_t* gid, std::string* home) {
  std::string text = Environment("PKEXEC_UID");
  if (text.empty() || ::geteuid() != 0)
    return false;
  char* end = nullptr;
  unsigned long value = std::strtoul(text.c_str(), &end, 10);
  if (*end != '\0' || value > UINT_MAX)
    return false;
  const passwd* entry = ::getpwuid(static_cast<uid_t>(value));
  if (entry == nullptr)
    return false;
  *uid = entry->pw_uid;
  *gid = entry->pw_gid;
  if (home != nullptr)
    *home = entry->pw_dir;
  return true;
}

// Hands what this run created to the user who ran pkexec, if that is how it was started.
void GiveToInvokingUser(int fd) {
  uid_t uid = 0;
  gid_t gid = 0;
  if (InvokingUser(&uid, &gid, nullptr))
    (void)::fchown(fd, uid, gid);  // the log stays usable for this run either way
}

// Creates the missing folders above path, each refused when it turns out to be a link.
int MakeParentFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    std::string folder = path.substr(0, slash);
    if (::mkdir(folder.c_str(), 0755) == 0) {
      int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (fd >= 0) {
        GiveToInvokingUser(fd);
        ::close(fd);
      }
    } else if (errno != EEXIST) {
      return -errno;
    }
  }
  return 0;
}

}  // namespace

std::string ChooseLogFilePath(const LogPlace& place) {
  if (place.cwd_writable && !place.cwd.empty() && place.cwd != "/")
    return place.cwd + "/" + kLogFileName;
  std::string state = place.state_home;
  if (state.empty())
    state = (place.home.empty() ? std::string("/root") : place.home) + "/.local/state";
  return state + "/quillmar/" + kLogFileName;
}

LogPlace CurrentLogPlace() {
  LogPlace place;
  char cwd[PATH_MAX];
  if (::getcwd(cwd, sizeof cwd) != nullptr) {
    place.cwd = cwd;
    place.cwd_writable = ::access(cwd, W_OK) == 0;
  }
  uid_t uid = 0;
  gid_t gid = 0;
  if (InvokingUser(&uid, &gid, &place.home)) {
    place.cwd_writable = false;  // pkexec starts in root's home, which the user did not choose
  } else {
    place.home = Environment("HOME");
    place.state_home = Environment("XDG_STATE_HOME");
  }
  if (!place.state_home.empty() && place.state_home[0] != '/')
    place.state_home.clear();  // a relative value is to be ignored
  return place;
}

int OpenLogFileForAppend(const std::string& path, bool make_folders) {
  if (int made = make_folders ? MakeParentFolders(path) : 0; made < 0)
    return made;
  // O_NONBLOCK: a named pipe without reader fails at once instead of blocking the run.
  int fd = ::open(path.c_str(),
                  O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644);
  if (fd >= 0) {
    GiveToInvokingUser(fd);
    return fd;
  }
  if (errno != EEXIST)
    return -errno;
  fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return -errno;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -EINVAL;
  }
  return fd;
}

std::string LogFileProblem(int error) {
  switch (-error) {
    case ELOOP:
      return "it is a symbolic link";
    case EISDIR:
      return "it is a folder";
    case EINVAL:
    case ENXIO:
      return "it is not a regular file";
    default:
      return std::strerror(-error);
  }
}

}  // namespace quillmar
