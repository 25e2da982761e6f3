#ifndef TLY_TESTS_TESTUTIL_GERMAN_LOCALE_H_
#define TLY_TESTS_TESTUTIL_GERMAN_LOCALE_H_

#include <stdlib.h>

#include <string>

#include "testutil/env_guard.h"
#include "testutil/temp_dir.h"

namespace tly::testing {

// The locale name of GermanLocaleDir: dots between the parts of a date and a
// decimal comma, unlike the C locale.
inline constexpr const char kGermanLocale[] = "de_DE.UTF-8";

// A directory holding kGermanLocale, for LOCPATH. Machines often install no
// locale beyond C, so it is compiled from the system's locale sources with
// localedef, once per test program. Empty when that fails.
inline const std::string& GermanLocaleDir() {
  static const TempDir dir;
  static const std::string usable = [] {
    const std::string command =
        "localedef -i de_DE -f UTF-8 '" + dir.File(kGermanLocale) + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0 ? dir.path() : std::string();
  }();
  return usable;
}

// Points LOCPATH at GermanLocaleDir for the scope.
class GermanLocalePath {
 public:
  GermanLocalePath() { ::setenv("LOCPATH", GermanLocaleDir().c_str(), 1); }

 private:
  EnvGuard locpath_{"LOCPATH"};
};

}  // namespace tly::testing

#endif  // TLY_TESTS_TESTUTIL_GERMAN_LOCALE_H_
