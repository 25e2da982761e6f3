#include "cli/command_style.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <system_error>

#include "cli/exit_codes.h"
#include "support/date_time.h"
#include "support/file_read.h"

namespace tly {

CLI::Option* AddValueOption(CLI::App& command, const std::string& name, std::string& value,
                            const std::string& value_name, const std::string& meaning) {
  return command.add_option(name, value, meaning)->type_name(value_name);
}

uint64_t ParseDecimalOption(std::string_view option, std::string_view text, uint64_t min,
                            uint64_t max) {
  uint64_t value = 0;
  const bool digits_only =
      !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (!digits_only || error != std::errc() || end != text.data() + text.size() || value < min ||
      value > max) {
    throw UsageError(std::string(option) + " " + std::string(text) +
                     " is not a whole number from " + std::to_string(min) + " to " +
                     std::to_string(max));
  }
  return value;
}

CivilDate ParseDateOption(std::string_view option, std::string_view text) {
  CivilDate date;
  bool digits = text.size() == 10 && text[4] == '-' && text[7] == '-';
  for (size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u}) {
    digits = digits && text[i] >= '0' && text[i] <= '9';
  }
  if (!digits) {
    throw UsageError(std::string(option) + " " + std::string(text) +
                     " is not a date written YYYY-MM-DD");
  }
  std::from_chars(text.data(), text.data() + 4, date.Year);
  std::from_chars(text.data() + 5, text.data() + 7, date.Month);
  std::from_chars(text.data() + 8, text.data() + 10, date.Day);
  return date;
}

int ParseJobsOption(std::string_view text) {
  if (text.empty()) return 0;
  return static_cast<int>(ParseDecimalOption("--jobs", text, 1, 256));
}

uint32_t ParseSeedOption(std::string_view text, uint32_t fallback) {
  if (text.empty()) return fallback;
  return static_cast<uint32_t>(
      ParseDecimalOption("--seed", text, 0, std::numeric_limits<uint32_t>::max()));
}

void RequireOutputDirectory(const std::string& dir, std::string_view source) {
  std::error_code error;
  if (std::filesystem::is_directory(dir, error)) return;
  const std::string from = source.empty() ? "" : " (from " + std::string(source) + ")";
  throw UsageError("the output directory " + dir + from + " does not exist or is not a directory");
}

ExistingNoticedFn UnsoundFileNotice(CommandOutput& output) {
  return [&output](const std::string& file, const std::string& problem) {
    output.Error("continuing " + file + ", which is not sound: " + problem);
  };
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return seconds > 1e-9 ? seconds : 1e-9;
}

std::string CountOf(uint64_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

CommandOutput::CommandOutput(std::string command) : command_(std::move(command)) {}

void CommandOutput::Write(std::FILE* stream, std::string_view text, bool& failed, int& error) {
  errno = 0;
  const bool written =
      std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
  if (!written && !failed) {
    failed = true;
    error = errno != 0 ? errno : EIO;
  }
  std::clearerr(stream);
}

void CommandOutput::Line(std::string_view text) {
  Write(stdout, std::string(text) + "\n", out_failed_, out_error_);
}

void CommandOutput::Partial(std::string_view text) {
  Write(stdout, text, out_failed_, out_error_);
}

void CommandOutput::Error(std::string_view message) {
  const std::string who = command_.empty() ? "tly-generator" : "tly-generator " + command_;
  Write(stderr, who + ": " + std::string(message) + "\n", err_failed_, err_error_);
}

int CommandOutput::Finish(int code) {
  if (!out_failed_ || code != kExitOk) return code;
  Error("could not write to standard output: " + std::string(std::strerror(out_error_)));
  return kExitFailed;
}

std::string PrintableText(std::string_view text) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\\') {
      shown += "\\\\";
    } else if (byte >= 0x20 && byte < 0x7F) {
      shown += c;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      shown += hex;
    }
  }
  return shown;
}

std::string TooLargeProblem(std::size_t max_bytes) {
  return max_bytes % (std::size_t{1} << 30) == 0
             ? "larger than " + std::to_string(max_bytes >> 30) + " GiB"
             : "larger than " + std::to_string(max_bytes >> 20) + " MiB";
}

std::optional<std::string> ReadGivenFile(const std::string& path, std::string& problem,
                                         std::size_t max_bytes) {
  try {
    std::optional<std::string> bytes = ReadWholeFile(path, max_bytes);
    if (!bytes) problem = std::generic_category().message(ENOENT);
    return bytes;
  } catch (const std::system_error& error) {
    switch (error.code().value()) {
      case EINVAL:
        problem = "not a regular file";
        break;
      case EFBIG:
        problem = TooLargeProblem(max_bytes);
        break;
      default:
        problem = error.code().message();
    }
    return std::nullopt;
  }
}

}  // namespace tly
