#ifndef TLY_SUPPORT_PROCESS_ENV_H_
#define TLY_SUPPORT_PROCESS_ENV_H_

#include <string>
#include <string_view>

namespace tly {

// The full path of the running executable (from /proc/self/exe); empty when
// the system does not tell it.
std::string ExecutablePath();

// The directory part of an executable's absolute path: everything before the
// last '/', without a trailing '/', except that an executable in the root
// gives "/". A name without any '/' gives "." (the current directory).
// "/opt/gen/tly" gives "/opt/gen", "/tly" gives "/".
std::string DirectoryOfExecutable(std::string_view exe_path);

// Determines the directory of the running executable and whether this
// process may write to it (access W_OK). When it may (the portable layout: the
// program unpacked into a folder of its own), that directory becomes the
// temporary-file directory of this process and of every program it starts:
// TEMP, TMP and TMPDIR (the one POSIX programs read) are set to it, replacing
// inherited values. When it may not (an installed program under /usr/bin),
// the environment is left as inherited. Call once at start-up, before any
// other thread exists. When the executable's path cannot be found, AppDir()
// stays empty and the environment is left as inherited; a refused setenv is
// ignored. Never throws.
void InitProcessEnvironment() noexcept;

// InitProcessEnvironment() for the executable `exe_path` instead of the
// running one (a test's stand-in for an installed program).
void InitProcessEnvironmentFor(const std::string& exe_path) noexcept;

// The directory of the running executable as found by InitProcessEnvironment();
// empty before that call or when the path could not be found.
const std::string& AppDir();

// True when InitProcessEnvironment() found AppDir() writable, so the program
// keeps its settings beside its executable; false before that call, when the
// path could not be found or when the directory is not writable.
bool AppDirWritable();

}  // namespace tly

#endif  // TLY_SUPPORT_PROCESS_ENV_H_
