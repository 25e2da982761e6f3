#ifndef TLY_SUPPORT_OUTPUT_DIRECTORY_H_
#define TLY_SUPPORT_OUTPUT_DIRECTORY_H_

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "support/directory_lock.h"

namespace tly {

// The one way out for the files the program writes into a directory: the
// directory is held open (so every file lands in the directory that was
// opened, even if its path is renamed meanwhile, and no path is looked up
// again per file), optionally locked for its one writer, and each file is
// replaced in one step through a temporary file, or removed. Every call goes
// through the FileOperations in force (support/file_operations.h), so a test
// can make any of them fail.
//
// Durability. A replacement writes the whole new content to the temporary
// file (TempFileNameFor: "261207.tly" through "261207.tmp"), closes it and
// renames it over the name. A reader, and a crash or kill of this program at
// any moment, therefore finds under the name the old file or the complete new
// one, never a part; what a kill can leave besides is a stale temporary file,
// which the next replacement of that name removes first. There is no fsync:
// after a power cut or a crash of the system itself the file system may have
// kept the rename but not yet the data, and the name may then hold an empty
// or short file. That is accepted because the files are cheap to make again
// and expensive to force to disk: the live cycle rewrites the whole day from
// memory every 2 seconds, a backfill writes thousands of files that the same
// request reproduces byte for byte, and forcing a file and its directory to
// disk costs some 30 times the replacement itself (a 30 kB file on ext4:
// 0.3 ms without, 8 ms with).
//
// It is also the place where files leave: whoever delivers them (to a
// server, a queue) is told of each replaced file by the observer.
//
// The replacing members may be called from several threads at once for
// different names.
class OutputDirectory {
 public:
  // Told the name (as given to the replacing member) of each file replaced,
  // on the thread that replaced it, after the rename.
  using ReplacedFn = std::function<void(const std::string& name)>;

  // Opens `path` as a directory. Throws std::system_error when it cannot.
  explicit OutputDirectory(std::string path);
  // Takes the writer's lock of `path` for `holder` (DirectoryLock), then
  // opens it. Throws DirectoryBusy when another writer holds it, and
  // std::system_error when it cannot be locked or opened.
  OutputDirectory(std::string path, std::string_view holder, DirectoryLock::Mode mode);
  ~OutputDirectory();
  OutputDirectory(const OutputDirectory&) = delete;
  OutputDirectory& operator=(const OutputDirectory&) = delete;

  // The files named by paths of their own (relative to the working directory
  // or absolute), for writers that are given paths rather than a directory.
  static const OutputDirectory& OfPaths();

  // Replaces the file `name` with `bytes` as described above. Throws
  // std::system_error (with errno, naming the file as PathOf does) when the
  // temporary file cannot be created, written, closed or renamed; the file is
  // then unchanged and no temporary file of this call remains (what stood
  // under the temporary name and could not be removed stays).
  void ReplaceFileWith(const std::string& name, std::string_view bytes) const;
  // ReplaceFileWith, except that a refused rename (another program may hold
  // the target for a moment) is tried once more after `retry_delay`. When the
  // second rename fails too, the temporary file is kept (it holds the whole
  // new content) and RenameRefused is thrown.
  void ReplaceFileRetryingRename(const std::string& name, std::string_view bytes,
                                 std::chrono::milliseconds retry_delay) const;
  // Removes the entry `name` (a link itself, not its target; never a
  // directory). Returns false when there was none. Throws std::system_error
  // ("cannot remove <path>") when it stays.
  bool RemoveFile(const std::string& name) const;
  // Appends `bytes` to the file `name`, created when missing (never through a
  // link). Throws std::system_error naming the file.
  void AppendToFile(const std::string& name, std::string_view bytes) const;

  // The directory's path, a '/' unless it ends with one, and `name`; just
  // `name` for OfPaths.
  std::string PathOf(const std::string& name) const;
  const std::string& path() const { return path_; }

  // Who is told of each replaced file; nobody by default. Set it before the
  // first replacement.
  void SetReplacedObserver(ReplacedFn replaced) { replaced_ = std::move(replaced); }

 private:
  struct OfPathsTag {};
  explicit OutputDirectory(OfPathsTag);
  // Creates the temporary file `temp`, writes it completely and closes it;
  // when the writing or closing fails, removes it and throws.
  void WriteTemporary(const std::string& temp, std::string_view bytes) const;
  void Replaced(const std::string& name) const;

  std::optional<DirectoryLock> lock_;
  std::string path_;
  int fd_;
  ReplacedFn replaced_;
};

// Thrown by ReplaceFileRetryingRename when the temporary file was written
// completely but could not be renamed over the target, not even on the retry.
// The temporary file is kept (it holds the whole new content); code() is the
// second rename's error.
class RenameRefused : public std::system_error {
 public:
  using std::system_error::system_error;
};

// The members of OutputDirectory::OfPaths() for a file named by `path`.
void ReplaceFileWith(const std::string& path, std::string_view bytes);
void ReplaceFileRetryingRename(const std::string& path, std::string_view bytes,
                               std::chrono::milliseconds retry_delay);
bool RemoveFile(const std::string& path);
void AppendToFile(const std::string& path, std::string_view bytes);

// Removes the entry `path` if there is one (a link itself, not its target).
// Returns false when nothing was removed; never throws.
bool RemoveQuietly(const std::string& path);

// Renames `from` over `to`, replacing `to` atomically (same file system).
// Throws std::system_error.
void RenameOver(const std::string& from, const std::string& to);

// Creates the directory `path` (mode 0777 less the umask) unless a directory
// has that name; as std::filesystem::create_directory: true when it was
// created, false with `error` set when it cannot be.
bool MakeDirectory(const std::string& path, std::error_code& error);

}  // namespace tly

#endif  // TLY_SUPPORT_OUTPUT_DIRECTORY_H_
