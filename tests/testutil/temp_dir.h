#ifndef TLY_TESTS_TESTUTIL_TEMP_DIR_H_
#define TLY_TESTS_TESTUTIL_TEMP_DIR_H_

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tly::testing {

// The directory temporary test directories go to: TMPDIR as the test program
// found it when it started (the program under test sets TMPDIR for itself, so
// it is read once, before any test runs), or /tmp when it is unset.
inline const std::string kTestTempRoot = [] {
  const char* dir = ::getenv("TMPDIR");
  return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp");
}();

// The directory that holds the running test program: a place where copies of
// the program may be executed even where the temporary directory is mounted
// noexec.
inline std::string TestProgramDir() {
  std::string path(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0) throw std::runtime_error("cannot read /proc/self/exe");
  path.resize(static_cast<size_t>(length));
  return path.substr(0, path.find_last_of('/'));
}

// A fresh, empty directory (under kTestTempRoot unless another parent is
// given), removed with its content at the end of the scope.
class TempDir {
 public:
  explicit TempDir(const std::string& parent = kTestTempRoot) {
    std::string pattern = parent + "/tly-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

// The bytes of a file, or "" when it cannot be read.
inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The names of the entries of `dir`, sorted, without the writer's lock file
// (".tly-generator.lock"), which every writer leaves in its directory.
inline std::vector<std::string> EntriesOf(const std::string& dir) {
  std::vector<std::string> names;
  for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename();
    if (name != ".tly-generator.lock") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Replaces the content of `path` with `bytes`.
inline void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace tly::testing

#endif  // TLY_TESTS_TESTUTIL_TEMP_DIR_H_
