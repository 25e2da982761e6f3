#ifndef TLY_BENCH_BENCH_TEMP_DIR_H_
#define TLY_BENCH_BENCH_TEMP_DIR_H_

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace tly::bench {

// A fresh, empty directory under $TMPDIR (default /tmp), removed with its
// content at the end of the scope. TMPDIR chooses the file system measured.
class BenchTempDir {
 public:
  BenchTempDir() {
    const char* base = ::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tly-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~BenchTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  BenchTempDir(const BenchTempDir&) = delete;
  BenchTempDir& operator=(const BenchTempDir&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace tly::bench

#endif  // TLY_BENCH_BENCH_TEMP_DIR_H_
