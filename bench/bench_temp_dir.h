#ifndef TLY_BENCH_BENCH_TEMP_DIR_H_
#define TLY_BENCH_BENCH_TEMP_DIR_H_

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

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

// A fresh BenchTempDir that is removed only when the program ends. Where the
// file system has no journal (as on the development machine), ext4 passes
// over the inodes of recently deleted files each time it creates one:
// removing a run's files right after it would slow down the runs that follow.
// At the end the removal is written out at once: ext4 keeps passing over a
// deleted inode for a minute, and for five more while its table is unwritten.
inline const std::string& KeptBenchDir() {
  struct Kept {
    std::vector<std::unique_ptr<BenchTempDir>> dirs;
    ~Kept() {
      dirs.clear();
      ::sync();
    }
  };
  static Kept kept;
  kept.dirs.push_back(std::make_unique<BenchTempDir>());
  return kept.dirs.back()->path();
}

}  // namespace tly::bench

#endif  // TLY_BENCH_BENCH_TEMP_DIR_H_
