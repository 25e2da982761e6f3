#ifndef TLY_SUPPORT_SAFE_FILE_H_
#define TLY_SUPPORT_SAFE_FILE_H_

#include <string>
#include <string_view>

#include "support/output_directory.h"

namespace tly {

// A file created anew for writing, safe in a directory that other users share:
// created with O_CREAT | O_EXCL | O_NOFOLLOW, mode 0644 less the umask; when a
// stale entry has the name, it is unlinked (a symbolic link is removed, never
// followed) and the file created again. So a link planted under the name
// cannot redirect the write, and nothing is ever written into a file someone
// else prepared.
class NewFile {
 public:
  // Creates the file. Throws std::system_error when it cannot be created
  // (missing directory, no permission, a directory in the way, ...).
  explicit NewFile(const std::string& path);
  // Creates the entry `name` of the directory open as `dir_fd` (AT_FDCWD:
  // `name` is a path of its own); `path` names the file in messages.
  NewFile(int dir_fd, const std::string& name, std::string path);
  // Closes the file if it is still open; errors are ignored there.
  ~NewFile();
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  // Appends all of `bytes`. Throws std::system_error (e.g. ENOSPC, EFBIG).
  void Write(std::string_view bytes);
  // Closes the file. Throws std::system_error when the close reports an error.
  void Close();

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

// The temporary file through which `path` is replaced: the same name with its
// extension replaced by ".tmp" ("261207.tly" gives "261207.tmp"); a name
// without extension, or one whose extension already is ".tmp", gets ".tmp"
// appended, so the temporary name never equals `path`.
std::string TempFileNameFor(const std::string& path);

// The directory held open in which files are replaced by name, by the name
// the code first knew it by.
using OpenDirectory = OutputDirectory;

}  // namespace tly

#endif  // TLY_SUPPORT_SAFE_FILE_H_
