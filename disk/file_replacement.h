// A file written whole under a temporary name in its own folder and moved over its final name
// only once complete and durable: a failure at any point leaves the old file as it was and no
// partial file behind (a backup image that a later restore would accept).
#pragma once

#include <sys/types.h>

#include <string>

namespace quillmar {

// The folder of path ("." for a bare name).
std::string FolderOf(const std::string& path);

class FileReplacement {
 public:
  // path: the file to write (it may exist; a link is followed to the file it names).
  explicit FileReplacement(const std::string& path);
  // Removes the temporary file unless it was committed.
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Creates the empty temporary file beside the final one, with the final file's owner, once the
  // final file (when it exists) is locked against other writers. 0, or -1 (shown in an error box;
  // also when another program writes the final file, and for a link to a file that is missing).
  int Create();
  // Where the writer writes; it flushes what it wrote before Commit.
  const std::string& temporary_path() const { return temporary_; }
  // Gives the temporary file the final file's permissions (or those of a new file), moves it over
  // the final name and flushes the folder, so that the new name is durable too. 0, or -1 (shown
  // in an error box; when the move failed, the old file stays and the temporary file is
  // removed). A name that was free at Create and was taken meanwhile is not replaced.
  int Commit();

 private:
  int RenameTemporary() const;

  std::string final_;
  std::string temporary_;
  mode_t mode_ = 0600;
  int held_ = -1;  // the final file, locked while it is replaced
  bool committed_ = false;
};

}  // namespace quillmar
