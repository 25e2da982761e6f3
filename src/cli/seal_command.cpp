#include "cli/seal_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/command_style.h"
#include "cli/exit_codes.h"
#include "config/day_file_replace.h"
#include "config/header_config.h"
#include "config/tly_config.h"
#include "dayfile/day_file_lines.h"
#include "dayfile/day_file_reader.h"
#include "dayfile/row_reading.h"
#include "flat/default_layout.h"
#include "support/directory_lock.h"

namespace tly {
namespace {

// The first data line of `text` that a reader cannot place as a row (no
// shop code, date and strict time "hh:nn"), in words, or "" when every one
// can.
std::string FirstUnplaceableRow(std::string_view text) {
  std::string problem;
  size_t number = 0;
  ScanDayFileText(text, [&](std::string_view row) {
    ++number;
    if (!problem.empty()) return;
    const std::vector<std::string_view> fields = SplitRowFields(row);
    if (fields.size() < 3 || StrictQuarterOf(fields[2]) < 0) {
      problem = "data line " + std::to_string(number) + " (\"" + PrintableText(row.substr(0, 40)) +
                "\") is not a row with a shop code, a date and a time hh:nn";
    }
  });
  return problem;
}

std::string DirectoryOf(const std::string& path) {
  const std::string parent = std::filesystem::path(path).parent_path().string();
  return parent.empty() ? "." : parent;
}

}  // namespace

CLI::App* AddSealCommand(CLI::App& app, SealOptions& options) {
  CLI::App* seal = app.add_subcommand(
      "seal",
      "Give hand-edited day files a fresh header and the seal of their rows, each replaced in "
      "one step: the header keeps the file's own doors and channels where it can be read, else "
      "gets the program's default layout. Exit code 0 when all were sealed, 1 when one was "
      "refused (a data line that is no row) or could not be written, 2 when one cannot be read");
  seal->add_option("FILE", options.files, "Day files to seal")->type_name("FILE...")->required();
  return seal;
}

int RunSealCommand(const SealOptions& options) {
  CommandOutput output("seal");
  int exit_code = kExitOk;
  for (const std::string& path : options.files) {
    std::string problem;
    const std::optional<std::string> bytes = ReadGivenFile(path, problem);
    if (!bytes) {
      output.Error(std::string("cannot read ").append(path).append(": ").append(problem));
      exit_code = std::max(exit_code, kExitUsage);
      continue;
    }
    if (const std::string unplaceable = FirstUnplaceableRow(*bytes); !unplaceable.empty()) {
      output.Error(std::string("refused ").append(path).append(": ").append(unplaceable));
      exit_code = std::max(exit_code, kExitFailed);
      continue;
    }
    std::optional<TTlyConfig> config = ConfigOfHeader(*bytes);
    const bool own = config.has_value();
    if (!own) {
      config.emplace();
      ApplyDefaultLayout(*config);
    }
    try {
      // A link is followed: the file it names is sealed and the link stays.
      const std::string file = std::filesystem::canonical(path).string();
      const DirectoryLock lock(DirectoryOf(file), "tly-generator seal");
      // A replacement refused twice is a failure here, not a save to retry.
      SealDayFile(*config, file);
    } catch (const DirectoryBusy& busy) {
      output.Error(busy.what());
      exit_code = std::max(exit_code, kExitUsage);
      continue;
    } catch (const std::system_error& error) {
      output.Error("cannot seal " + path + ": " + error.what());
      exit_code = std::max(exit_code, kExitFailed);
      continue;
    }
    output.Line(path + ": sealed (" +
                (own ? "its own layout, " + config->DeviceType.Str()
                     : std::string("the default layout: its header describes none")) +
                ")");
  }
  return output.Finish(exit_code);
}

}  // namespace tly
