#ifndef TLY_SUPPORT_SAFE_FILE_H_
#define TLY_SUPPORT_SAFE_FILE_H_

#include <chrono>
#include <string>
#include <string_view>
#include <system_error>

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

// Replaces `path` with `bytes` in one step: the bytes go to a NewFile at
// TempFileNameFor(path), which is renamed over `path` once completely written
// and closed, so a reader sees the old file or the new one, never a part.
// Throws std::system_error when the temporary file cannot be created, written
// or renamed; `path` is then unchanged and no temporary file remains.
void ReplaceFileWith(const std::string& path, std::string_view bytes);

// A directory held open, in which files are replaced by name. Every file
// lands in the directory that was opened, even if its path is renamed
// meanwhile, and no path is looked up again for each file.
class OpenDirectory {
 public:
  // Throws std::system_error when `path` cannot be opened as a directory.
  explicit OpenDirectory(std::string path);
  ~OpenDirectory();
  OpenDirectory(const OpenDirectory&) = delete;
  OpenDirectory& operator=(const OpenDirectory&) = delete;

  // ReplaceFileWith for the file `name` (no '/') of the directory; messages
  // name the file by the directory's path and `name`, as PathOf does.
  void ReplaceFileWith(const std::string& name, std::string_view bytes) const;
  // The directory's path, a '/' unless it ends with one, and `name`.
  std::string PathOf(const std::string& name) const;

 private:
  std::string path_;
  int fd_;
};

// Thrown by ReplaceFileRetryingRename when the temporary file was written
// completely but could not be renamed over the target, not even on the retry.
// The temporary file is kept (it holds the whole new content); code() is the
// second rename's error.
class RenameRefused : public std::system_error {
 public:
  using std::system_error::system_error;
};

// ReplaceFileWith, except that a refused rename (another program may hold the
// target for a moment) is tried once more after `retry_delay`. When the second
// rename fails too, the temporary file is kept and RenameRefused is thrown.
// Any other failure throws std::system_error and leaves no temporary file.
void ReplaceFileRetryingRename(const std::string& path, std::string_view bytes,
                               std::chrono::milliseconds retry_delay);

// Renames `from` over `to`, replacing `to` atomically (same file system).
// Throws std::system_error.
void RenameOver(const std::string& from, const std::string& to);

// Removes the directory entry `path` if there is one (a link itself, not its
// target). Returns false when nothing was removed; never throws.
bool RemoveQuietly(const std::string& path);

}  // namespace tly

#endif  // TLY_SUPPORT_SAFE_FILE_H_
