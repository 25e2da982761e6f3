#include "verify_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/day_file_check.h"

namespace tly {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitBad = 1;
constexpr int kExitUnreadable = 2;

std::vector<std::string>& Files() {
  static std::vector<std::string> files;
  return files;
}

// Reads the whole file into `bytes`; on failure returns false with errno set.
bool ReadFile(const std::string& path, std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes.clear();
  char buffer[1 << 16];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  errno = error;
  return !failed;
}

}  // namespace

CLI::App* AddVerifyCommand(CLI::App& app) {
  Files().clear();
  CLI::App* verify = app.add_subcommand(
      "verify",
      "Check day files as a reader would: header from #T to #S, the two title lines, the rows, "
      "CR LF line ends and the seal. Exit code 0 when all are OK, 1 when one is bad, 2 when one "
      "cannot be read or for a usage error");
  verify->add_option("FILE", Files(), "Day files to check")->type_name("")->required();
  return verify;
}

int RunVerifyCommand() {
  int exit_code = kExitOk;
  std::string bytes;
  for (const std::string& path : Files()) {
    if (!ReadFile(path, bytes)) {
      std::fflush(stdout);
      std::fprintf(stderr, "tly-generator verify: cannot read %s: %s\n", path.c_str(),
                   std::strerror(errno));
      exit_code = kExitUnreadable;
      continue;
    }
    const DayFileCheck check = CheckDayFile(bytes);
    if (check.ok) {
      std::printf("%s: OK\n", path.c_str());
    } else {
      std::printf("%s: BAD: %s\n", path.c_str(), check.problem.c_str());
      exit_code = std::max(exit_code, kExitBad);
    }
  }
  std::fflush(stdout);
  return exit_code;
}

}  // namespace tly
