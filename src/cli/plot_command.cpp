#include "cli/plot_command.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgGenerator>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "cli/command_style.h"
#include "cli/exit_codes.h"
#include "dayfile/day_file_findings.h"
#include "dayfile/day_file_name.h"
#include "plot/plot_chart.h"
#include "plot/plot_data.h"

namespace tly {

namespace {

constexpr int kMinWidth = 320, kMaxWidth = 10000;
constexpr int kMinHeight = 240, kMaxHeight = 10000;

void Complain(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "tly-generator plot: %s\n", message.c_str());
}

// Reads a decimal number of digits only, within [min, max].
bool ParseDecimal(std::string_view text, int min, int max, int& value) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return false;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() && value >= min &&
         value <= max;
}

// "WIDTHxHEIGHT" within the limits above.
bool ParseSize(std::string_view text, int& width, int& height) {
  const size_t x = text.find('x');
  return x != std::string_view::npos &&
         ParseDecimal(text.substr(0, x), kMinWidth, kMaxWidth, width) &&
         ParseDecimal(text.substr(x + 1), kMinHeight, kMaxHeight, height);
}

// "png" or "svg" from the extension of `path`, any case; "" for others.
std::string FormatOf(std::string_view path) {
  if (path.size() < 4 || path[path.size() - 4] != '.') return {};
  std::string extension(path.substr(path.size() - 3));
  for (char& c : extension) c = static_cast<char>(c | 0x20);
  return extension == "png" || extension == "svg" ? extension : std::string();
}

// Why the picture `path` cannot be written into its folder, or "" when it can:
// a missing folder or one without write permission is a bad --out, told
// before any file is read or drawn.
std::string OutFolderProblem(const std::string& path) {
  const std::string parent = std::filesystem::path(path).parent_path().string();
  const std::string folder = parent.empty() ? "." : parent;
  struct stat status {};
  if (::stat(folder.c_str(), &status) != 0)
    return "the folder " + folder + ": " + std::strerror(errno);
  if (!S_ISDIR(status.st_mode)) return folder + " is not a folder";
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    return "the folder " + folder + ": " + std::strerror(errno);
  }
  return {};
}

// The toolkit looks into the user's runtime directory as it starts; without
// XDG_RUNTIME_DIR it warns and makes one, "runtime-<user>", in the temporary
// folder, which may be the program's own. Where none is set, the chart gets a
// private one of its own for as long as it is drawn.
class RuntimeDirForToolkit {
 public:
  RuntimeDirForToolkit() {
    const char* inherited = std::getenv("XDG_RUNTIME_DIR");
    if (inherited != nullptr && *inherited != '\0') return;
    std::error_code error;
    std::string pattern =
        (std::filesystem::temp_directory_path(error) / "tly-generator-plot-XXXXXX").string();
    if (error || ::mkdtemp(pattern.data()) == nullptr) return;  // the toolkit makes its own
    dir_ = pattern;
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  }
  ~RuntimeDirForToolkit() {
    if (dir_.empty()) return;
    ::unsetenv("XDG_RUNTIME_DIR");
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  RuntimeDirForToolkit(const RuntimeDirForToolkit&) = delete;
  RuntimeDirForToolkit& operator=(const RuntimeDirForToolkit&) = delete;

 private:
  std::string dir_;
};

// Drawing text needs the toolkit's fonts, and those a GUI application. The
// chart is always drawn on the offscreen platform, whatever platform the
// environment names: a picture needs no display, and any other platform
// aborts the process where there is none.
std::unique_ptr<QGuiApplication> EnsureGuiApplication() {
  if (QCoreApplication::instance() != nullptr) return nullptr;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "tly-generator";
  static char* argv[] = {name, nullptr};
  return std::make_unique<QGuiApplication>(argc, argv);
}

// The chart's bytes in `format`, empty when drawing failed.
QByteArray DrawChart(const PlotData& data, const std::string& format, QSize size) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  if (format == "svg") {
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setResolution(96);  // a pixel of the chart is a pixel of a usual screen
    svg.setTitle(QStringLiteral("TLY traffic"));
    svg.setDescription(QStringLiteral("Entries and exits per quarter hour by door, and occupancy"));
    QPainter painter;
    if (!painter.begin(&svg)) return {};
    PaintTrafficChart(painter, size, data);
    painter.end();
  } else {
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    PaintTrafficChart(painter, size, data);
    painter.end();
    if (!image.save(&buffer, "PNG")) return {};
  }
  return buffer.data();
}

// Whether --size and --out can be used (each bad one told): the size into
// `width` and `height`, the picture's format into `format`.
bool ReadOutOptions(const PlotOptions& options, int& width, int& height, std::string& format) {
  if (!ParseSize(options.size, width, height)) {
    Complain("--size " + options.size + " is not WIDTHxHEIGHT with a width from " +
             std::to_string(kMinWidth) + " to " + std::to_string(kMaxWidth) +
             " and a height from " + std::to_string(kMinHeight) + " to " +
             std::to_string(kMaxHeight));
    return false;
  }
  format = FormatOf(options.out);
  if (format.empty()) {
    Complain("--out " + options.out + " does not end in .png or .svg");
    return false;
  }
  if (const std::string problem = OutFolderProblem(options.out); !problem.empty()) {
    Complain("--out " + options.out + " cannot be written: " + problem);
    return false;
  }
  return true;
}

// What reading the files given to plot came to.
struct ReadFiles {
  PlotData data;
  bool refused = false;    // a file could not be read or is not sound
  bool too_large = false;  // one of them was larger than any day file
};

// Reads and checks each of `options.files` into the chart's data, telling
// what is refused.
ReadFiles ReadPlotFiles(const PlotOptions& options) {
  ReadFiles read;
  const std::string_view verdict = options.force ? " (drawn as far as it can be read)" : "";
  for (const std::string& path : options.files) {
    std::string problem;
    const std::optional<std::string> bytes = ReadGivenFile(path, problem);
    if (!bytes) {
      Complain(std::string("cannot read ")
                   .append(path)
                   .append(": ")
                   .append(problem)
                   .append(options.force ? " (left out)" : ""));
      read.refused = true;
      read.too_large |= problem == TooLargeProblem(kMaxDayFileBytes);
      continue;
    }
    // Refused whenever verify calls it bad, with the problem verify names.
    const std::vector<DayFileFinding> findings = InspectDayFile(*bytes, DateFromFileName(path));
    if (!findings.empty()) {
      Complain(std::string(path)
                   .append(" is not a sound day file: ")
                   .append(findings.front().problem)
                   .append(verdict));
      read.refused = true;
    }
    for (const std::string& header_problem : AddPlotDay(read.data, path, *bytes)) {
      // A file that failed the check is already refused; its details would
      // only repeat the one problem in other words.
      if (!findings.empty()) break;
      Complain(std::string(path).append(": ").append(header_problem).append(verdict));
      read.refused = true;
    }
  }
  return read;
}

}  // namespace

CLI::App* AddPlotCommand(CLI::App& app, PlotOptions& options) {
  CLI::App* plot = app.add_subcommand(
      "plot",
      "Draw one chart of day files in the order given (a day, a week, a month): entries and exits "
      "per quarter hour by door, stacked, and the occupancy since each day began");
  plot->add_option("FILE", options.files, "Day files, one day each")
      ->type_name("FILE...")
      ->required();
  AddValueOption(*plot, "--out", options.out, "FILE",
                 "The picture to write, PNG or SVG by its extension (default: chart.png in the "
                 "current directory)");
  AddValueOption(*plot, "--size", options.size, "WxH",
                 "Width and height in pixels (default: 1600x900)");
  plot->add_flag("--force", options.force,
                 "Draw what can be read of files that fail the check (the problems are still "
                 "reported)");
  return plot;
}

int RunPlotCommand(const PlotOptions& options) {
  int width = 0, height = 0;
  std::string format;
  if (!ReadOutOptions(options, width, height, format)) return kExitUsage;
  const ReadFiles read = ReadPlotFiles(options);
  const PlotData& data = read.data;
  if (read.refused && !options.force) {
    Complain("nothing written; --force draws what can be read");
    // A file larger than any day file was not what plot is for.
    return read.too_large ? kExitUsage : kExitFailed;
  }
  if (data.days.empty()) {
    Complain("no day file could be read; nothing written");
    return kExitFailed;
  }

  const RuntimeDirForToolkit runtime_dir;
  const std::unique_ptr<QGuiApplication> application = EnsureGuiApplication();
  const QByteArray bytes = DrawChart(data, format, QSize(width, height));
  QSaveFile file(QString::fromStdString(options.out));
  if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() ||
      !file.commit()) {
    Complain("cannot write " + options.out + ": " + file.errorString().toStdString());
    return kExitFailed;
  }
  std::printf("%s: %dx%d %s, %zu day%s from %s to %s\n", options.out.c_str(), width, height,
              format == "svg" ? "SVG" : "PNG", data.days.size(), data.days.size() == 1 ? "" : "s",
              data.days.front().file_name.c_str(), data.days.back().file_name.c_str());
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace tly
