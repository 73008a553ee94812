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

// The user who started this run as root through pkexec or sudo.
struct InvokingUser {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string home;
  bool pkexec = false;
};

// From PKEXEC_UID or SUDO_UID, while running as root; false when neither names a user.
bool FindInvokingUser(InvokingUser* user) {
  user->pkexec = !Environment("PKEXEC_UID").empty();
  std::string text = Environment(user->pkexec ? "PKEXEC_UID" : "SUDO_UID");
  if (text.empty() || ::geteuid() != 0)
    return false;
  char* end = nullptr;
  unsigned long value = std::strtoul(text.c_str(), &end, 10);
  if (*end != '\0' || value > UINT_MAX)
    return false;
  const passwd* entry = ::getpwuid(static_cast<uid_t>(value));
  if (entry == nullptr)
    return false;
  user->uid = entry->pw_uid;
  user->gid = entry->pw_gid;
  user->home = entry->pw_dir;
  return true;
}

// Hands what this run created in a folder of the invoking user's (below their home, or the folder
// they ran sudo in) to that user, so that their own later runs can write there too. What it made
// in a folder of anyone else's stays root's.
void GiveToInvokingUser(int fd, int folder) {
  InvokingUser user;
  struct stat st {};
  if (FindInvokingUser(&user) && ::fstatat(folder, ".", &st, 0) == 0 && st.st_uid == user.uid)
    (void)::fchown(fd, user.uid, user.gid);  // the log stays usable for this run either way
}

// The folder name in folder. Up to the home (trusted) it must exist and a link is followed; below
// it, it is made when missing (and handed to the invoking user) and a link is refused: those
// folders belong to the home's user, and as root a link planted there must not lead the log (made
// the user's) anywhere else. A missing home is not made: it may be a share not mounted yet.
// Returns its descriptor, or -errno.
int OpenOrMakeFolder(int folder, const std::string& name, bool trusted) {
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (trusted ? 0 : O_NOFOLLOW);
  int fd = ::openat(folder, name.c_str(), flags);
  if (fd < 0 && errno == ENOENT && !trusted && ::mkdirat(folder, name.c_str(), 0755) == 0) {
    fd = ::openat(folder, name.c_str(), flags);
    if (fd >= 0)
      GiveToInvokingUser(fd, folder);
  }
  if (fd >= 0)
    return fd;
  const int error = errno;
  struct stat st {};  // a link refused by O_NOFOLLOW with O_DIRECTORY reports ENOTDIR
  if (error == ENOTDIR && ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode)) {
    return -ELOOP;
  }
  return -error;
}

// The folder that holds path, walked down to one folder at a time; down to trusted (a leading part
// of path) links are followed, below it each missing folder is made and no link followed. Its
// descriptor, or -errno.
int OpenParentFolder(const std::string& path, const std::string& trusted) {
  const bool absolute = !path.empty() && path[0] == '/';
  int folder = ::open(absolute ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0)
    return -errno;
  for (size_t begin = absolute ? 1 : 0, slash; (slash = path.find('/', begin)) != std::string::npos;
       begin = slash + 1) {
    if (slash == begin)
      continue;  // "//"
    int next = OpenOrMakeFolder(folder, path.substr(begin, slash - begin), slash <= trusted.size());
    ::close(folder);
    if (next < 0)
      return next;
    folder = next;
  }
  return folder;
}

// Opens name in folder for appending as described at OpenLogFileForAppend.
int OpenForAppend(int folder, const std::string& name) {
  // O_NONBLOCK: a named pipe without reader fails at once instead of blocking the run.
  int fd =
      ::openat(folder, name.c_str(),
               O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644);
  if (fd >= 0) {
    GiveToInvokingUser(fd, folder);
    return fd;
  }
  if (errno != EEXIST)
    return -errno;
  fd = ::openat(folder, name.c_str(),
                O_WRONLY | O_APPEND | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return -errno;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -EINVAL;
  }
  return fd;
}

// The deepest folder of path that exists ("/" at worst).
std::string ExistingAncestor(std::string path) {
  struct stat st {};
  while (path.size() > 1 && ::stat(path.c_str(), &st) != 0) {
    const size_t slash = path.rfind('/');
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
  return path;
}

}  // namespace

std::string ChooseLogFilePath(const LogPlace& place, std::string* folders_from) {
  if (folders_from != nullptr)
    folders_from->clear();
  if (place.cwd_writable && !place.cwd.empty() && place.cwd != "/")
    return place.cwd + "/" + kLogFileName;
  const std::string home = place.home.empty() ? std::string("/root") : place.home;
  const bool default_state = place.state_home.empty();
  // A missing home is not made (it may be a share not mounted yet); a missing state folder is.
  if (folders_from != nullptr)
    *folders_from = default_state ? home : ExistingAncestor(place.state_home);
  const std::string state = default_state ? home + "/.local/state" : place.state_home;
  return state + "/quillmar/" + kLogFileName;
}

LogPlace CurrentLogPlace() {
  LogPlace place;
  char cwd[PATH_MAX];
  if (::getcwd(cwd, sizeof cwd) != nullptr) {
    place.cwd = cwd;
    place.cwd_writable = ::access(cwd, W_OK) == 0;
  }
  InvokingUser user;
  if (FindInvokingUser(&user) && user.pkexec) {
    place.home = user.home;
    place.cwd_writable = false;  // pkexec starts in root's home, which the user did not choose
  } else {
    place.home = Environment("HOME");
    const passwd* own = place.home.empty() ? ::getpwuid(::getuid()) : nullptr;
    if (own != nullptr)
      place.home = own->pw_dir;
    place.state_home = Environment("XDG_STATE_HOME");
  }
  if (!place.state_home.empty() && place.state_home[0] != '/')
    place.state_home.clear();  // a relative value is to be ignored
  return place;
}

int OpenLogFileForAppend(const std::string& path, const std::string& folders_from) {
  const size_t slash = path.rfind('/');
  const std::string parent =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int folder = folders_from.empty()
                         ? ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                         : OpenParentFolder(path, folders_from);
  if (folder < 0)
    return folders_from.empty() ? -errno : folder;
  const int fd = OpenForAppend(folder, path.substr(slash + 1));  // npos + 1: the whole name
  ::close(folder);
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
