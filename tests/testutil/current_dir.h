#ifndef TLY_TESTS_TESTUTIL_CURRENT_DIR_H_
#define TLY_TESTS_TESTUTIL_CURRENT_DIR_H_

#include <filesystem>
#include <string>

namespace tly::testing {

// Makes `dir` the current directory for the scope (where the debug log
// lands) and returns to the previous one afterwards.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const std::string& dir) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~ScopedCurrentDir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
  }
  ScopedCurrentDir(const ScopedCurrentDir&) = delete;
  ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

 private:
  std::filesystem::path previous_;
};

}  // namespace tly::testing

#endif  // TLY_TESTS_TESTUTIL_CURRENT_DIR_H_
