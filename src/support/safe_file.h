#ifndef TLY_SUPPORT_SAFE_FILE_H_
#define TLY_SUPPORT_SAFE_FILE_H_

#include <string>
#include <string_view>

namespace tly {

// A file created anew for writing, safe in a directory that other users share:
// a stale entry of the same name is unlinked first (a symbolic link is removed,
// never followed), then the file is created with O_CREAT | O_EXCL | O_NOFOLLOW,
// mode 0644 less the umask. So a link planted under the name cannot redirect
// the write, and nothing is ever written into a file someone else prepared.
class NewFile {
 public:
  // Creates the file. Throws std::system_error when it cannot be created
  // (missing directory, no permission, a directory in the way, ...).
  explicit NewFile(std::string path);
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

// Renames `from` over `to`, replacing `to` atomically (same file system).
// Throws std::system_error.
void RenameOver(const std::string& from, const std::string& to);

// Removes the directory entry `path` if there is one (a link itself, not its
// target). Returns false when nothing was removed; never throws.
bool RemoveQuietly(const std::string& path);

}  // namespace tly

#endif  // TLY_SUPPORT_SAFE_FILE_H_
