#ifndef TLY_CLI_COMMAND_STYLE_H_
#define TLY_CLI_COMMAND_STYLE_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "counting/existing_day_file_notice.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

// What every subcommand shares: how its options look in the help, how their
// values are read, how it speaks to the user and how it reports a lost output.

namespace tly {

// A command line that cannot be carried out as given; the command prints the
// message (prefixed with "tly-generator <command>: ") and exits with
// kExitUsage, before touching any file. The library's own refusals of what
// it is given (a bad scenario file, a date out of range) are
// std::invalid_argument too, and are reported the same way.
class UsageError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// Adds the option `--name VALUE` to `command`, read into `value` as text.
// The help shows "--name VALUE  meaning"; a default belongs at the end of
// `meaning` as "(default: ...)".
CLI::Option* AddValueOption(CLI::App& command, const std::string& name, std::string& value,
                            const std::string& value_name, const std::string& meaning);

// The value `text` of `option` as a whole number from `min` to `max`, written
// in decimal digits only (no sign, no blank, no other base). Throws
// UsageError "<option> <text> is not a whole number from <min> to <max>".
uint64_t ParseDecimalOption(std::string_view option, std::string_view text, uint64_t min,
                            uint64_t max);

struct CivilDate;

// The value `text` of `option` as a date written YYYY-MM-DD (four, two and
// two digits). Whether that date exists is for the command to check. Throws
// UsageError "<option> <text> is not a date written YYYY-MM-DD".
CivilDate ParseDateOption(std::string_view option, std::string_view text);

// The value of --jobs: 1 to 256 threads, or 0 (the backfill's own rule: one
// per core) when `text` is empty. Throws UsageError.
int ParseJobsOption(std::string_view text);

// The value of --seed: 0 to 4294967295, or `fallback` when `text` is empty.
// Throws UsageError.
uint32_t ParseSeedOption(std::string_view text, uint32_t fallback);

// Throws UsageError "the output directory DIR (from SOURCE) does not exist or
// is not a directory" unless `dir` names a directory; without `source`, the
// words in parentheses are left out.
void RequireOutputDirectory(const std::string& dir, std::string_view source = {});

// Seconds since `start`, never 0, so that a rate can be taken at once.
double SecondsSince(std::chrono::steady_clock::time_point start);

// "1 day", "0 days", "2 days": `count` with the word that fits.
std::string CountOf(uint64_t count, std::string_view one, std::string_view many);

// A command's messages. Lines go to stdout or stderr as whole lines; a write
// that fails (a full disk, a closed pipe: SIGPIPE is ignored for commands) is
// remembered and never stops the command, so that generation goes on and the
// final save still happens. Finish() turns a lost stdout into an honest exit
// code.
class CommandOutput {
 public:
  // `command` is the subcommand's name, for the "tly-generator <command>: "
  // prefix of errors ("tly-generator: " when it is empty).
  explicit CommandOutput(std::string command);

  // Writes `text` followed by a newline to stdout and flushes it.
  void Line(std::string_view text);
  // Writes `text` to stdout without a newline (a progress line rewritten in
  // place) and flushes it.
  void Partial(std::string_view text);
  // Writes "tly-generator <command>: <message>" and a newline to stderr.
  void Error(std::string_view message);

  // The exit code to end with: `code`, unless something written to stdout
  // was lost and `code` is 0; then it says so on stderr and gives
  // kExitFailed.
  int Finish(int code);

 private:
  void Write(std::FILE* stream, std::string_view text, bool& failed, int& error);

  std::string command_;
  bool out_failed_ = false;
  int out_error_ = 0;
  bool err_failed_ = false;
  int err_error_ = 0;
};

// The notice of a day file continued though it is not sound, for `output`:
// "continuing FILE, which is not sound: PROBLEM" on stderr.
ExistingNoticedFn UnsoundFileNotice(CommandOutput& output);

// `text` as it may be shown in a message: printable ASCII stays, a backslash
// is doubled, every other byte is written \xHH, so that bytes of a file never
// reach the terminal raw.
std::string PrintableText(std::string_view text);

// The largest file a command reads as a day file: 1 MiB. A day file of 96
// rows of 64 counts and a full header stays below 100 KiB, so anything larger
// is no day file and is refused before it takes the memory.
inline constexpr std::size_t kMaxDayFileBytes = std::size_t{1} << 20;

// The bytes of a file a command was given to read, or nullopt with why not
// in `problem`, in words ("No such file or directory", "not a regular
// file", "larger than 1 MiB", ...). A file larger than `max_bytes` is
// refused without being read whole. Never throws for a file that cannot be
// read.
std::optional<std::string> ReadGivenFile(const std::string& path, std::string& problem,
                                         std::size_t max_bytes = kMaxDayFileBytes);

// The `problem` of ReadGivenFile for a file larger than `max_bytes` (whole
// mebibytes): "larger than N MiB", or "N GiB".
std::string TooLargeProblem(std::size_t max_bytes);

}  // namespace tly

#endif  // TLY_CLI_COMMAND_STYLE_H_
