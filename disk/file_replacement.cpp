#include "disk/file_replacement.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/log.h"
#include "base/shown_path.h"

namespace quillmar {
namespace {

// The file a link names, so that the link stays and its file is replaced; path itself otherwise.
std::string LinkTarget(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr)
    return path;
  std::string target(resolved);
  std::free(resolved);
  return target;
}

// Gives the new file the old file's owner (when it can be kept) and returns the old file's
// permissions, or those a new file gets under the umask. They are set once the file is written:
// an old file that is read-only would make the new one unwritable.
mode_t TakeOverOwner(int fd, const std::string& old_path) {
  struct stat st {};
  if (::stat(old_path.c_str(), &st) == 0) {
    [[maybe_unused]] int owned = ::fchown(fd, st.st_uid, st.st_gid);
    return st.st_mode & 07777;
  }
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0644 & ~mask;
}

void ShowFileError(const char* what, const std::string& path, int error) {
  LogAndShow(Format("*** ERROR: %s %s: %s", what, ShownPath(path).c_str(), std::strerror(error)),
             "*** ERROR ***");
}

int FlushFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return -1;
  int flushed = ::fsync(fd);
  int error = errno;
  ::close(fd);
  errno = error;
  return flushed;
}

}  // namespace

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

FileReplacement::FileReplacement(const std::string& path) : final_(LinkTarget(path)) {}

FileReplacement::~FileReplacement() {
  if (!temporary_.empty() && !committed_)
    ::unlink(temporary_.c_str());
  if (held_ >= 0)
    ::close(held_);
}

int FileReplacement::Create() {
  struct stat link {};
  if (::lstat(final_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {  // not resolved: dangling
    LogAndShow(Format("*** ERROR: %s is a link to a file that does not exist: it is not followed.",
                      ShownPath(final_).c_str()),
               "*** ERROR ***");
    return -1;
  }
  // The old file is locked as an image file being written is: a run writing it (it may be one of
  // that run's drives) makes this one refuse, and a run that starts meanwhile refuses to write it.
  held_ = ::open(final_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (held_ >= 0 && ::flock(held_, LOCK_EX | LOCK_NB) != 0) {
    LogAndShow(Format("*** ERROR: %s is being written by another program: it is not replaced.",
                      ShownPath(final_).c_str()),
               "*** ERROR ***");
    return -1;
  }
  std::string name = FolderOf(final_) + "/.quillmar-XXXXXX";
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) {
    ShowFileError("Could not create a file in folder", FolderOf(final_), errno);
    return -1;
  }
  temporary_ = buffer.data();
  mode_ = TakeOverOwner(fd, final_);
  ::close(fd);
  return 0;
}

// Over the old file, when there was one at Create; a name that was free then is taken only if it
// still is (another run may have made it meanwhile). A file system that cannot rename so is asked
// whether the name is free just before.
int FileReplacement::RenameTemporary() const {
  if (held_ >= 0)
    return ::rename(temporary_.c_str(), final_.c_str());
  if (::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, final_.c_str(), RENAME_NOREPLACE) == 0)
    return 0;
  if (errno != EINVAL)
    return -1;
  struct stat st {};
  if (::lstat(final_.c_str(), &st) == 0) {
    errno = EEXIST;
    return -1;
  }
  return ::rename(temporary_.c_str(), final_.c_str());
}

int FileReplacement::Commit() {
  if (::chmod(temporary_.c_str(), mode_) != 0) {
    ShowFileError("Could not set the permissions of", final_, errno);
    return -1;
  }
  if (RenameTemporary() != 0) {
    if (errno == EEXIST) {
      LogAndShow(Format("*** ERROR: %s was made by another program meanwhile: it is not replaced.",
                        ShownPath(final_).c_str()),
                 "*** ERROR ***");
    } else {
      ShowFileError("Could not replace", final_, errno);
    }
    return -1;
  }
  committed_ = true;
  if (FlushFolder(FolderOf(final_)) != 0) {
    ShowFileError("Could not flush the folder of", final_, errno);
    return -1;
  }
  return 0;
}

}  // namespace quillmar
