#ifndef TLY_TESTS_TESTUTIL_ENV_GUARD_H_
#define TLY_TESTS_TESTUTIL_ENV_GUARD_H_

#include <stdlib.h>

#include <optional>
#include <string>

namespace tly::testing {

// Restores an environment variable to what it was when the guard was made.
class EnvGuard {
 public:
  explicit EnvGuard(const char* name) : name_(name) {
    if (const char* value = ::getenv(name)) saved_ = value;
  }
  ~EnvGuard() {
    if (saved_) {
      ::setenv(name_, saved_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

}  // namespace tly::testing

#endif  // TLY_TESTS_TESTUTIL_ENV_GUARD_H_
