#include "support/process_env.h"

#include <unistd.h>

#include <cstdlib>
#include <new>

namespace tly {
namespace {

std::string& MutableAppDir() {
  static std::string app_dir;
  return app_dir;
}

bool& MutableAppDirWritable() {
  static bool writable = false;
  return writable;
}

}  // namespace

// The link's target may be longer than any first guess, so the buffer grows
// until the whole target fits.
std::string ExecutablePath() {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<size_t>(length));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string DirectoryOfExecutable(std::string_view exe_path) {
  const size_t slash = exe_path.find_last_of('/');
  if (slash == std::string_view::npos) return ".";
  std::string_view directory = exe_path.substr(0, slash);
  // "/opt//tly" names the same directory as "/opt/tly" does.
  while (!directory.empty() && directory.back() == '/') directory.remove_suffix(1);
  if (directory.empty()) return "/";
  return std::string(directory);
}

void InitProcessEnvironment() noexcept {
  try {
    const std::string exe = ExecutablePath();
    if (!exe.empty()) InitProcessEnvironmentFor(exe);
  } catch (const std::bad_alloc&) {
    // Out of memory at start-up: the inherited environment stays in force.
  }
}

void InitProcessEnvironmentFor(const std::string& exe_path) noexcept {
  try {
    std::string& app_dir = MutableAppDir();
    app_dir = DirectoryOfExecutable(exe_path);
    // An installed program's folder belongs to root: its temporary files go
    // where the user's always have, and its settings to the user's own folder.
    MutableAppDirWritable() = ::access(app_dir.c_str(), W_OK) == 0;
    if (!MutableAppDirWritable()) return;
    ::setenv("TEMP", app_dir.c_str(), 1);
    ::setenv("TMP", app_dir.c_str(), 1);
    ::setenv("TMPDIR", app_dir.c_str(), 1);
  } catch (const std::bad_alloc&) {
    // Out of memory at start-up: the inherited environment stays in force.
  }
}

const std::string& AppDir() {
  return MutableAppDir();
}

bool AppDirWritable() {
  return MutableAppDirWritable();
}

}  // namespace tly
