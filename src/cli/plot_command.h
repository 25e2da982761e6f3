#ifndef TLY_CLI_PLOT_COMMAND_H_
#define TLY_CLI_PLOT_COMMAND_H_

namespace CLI {
class App;
}

#include <string>
#include <vector>

namespace tly {

// The options of `plot` as given on the command line.
struct PlotOptions {
  std::vector<std::string> files;
  std::string out = "chart.png";
  std::string size = "1600x900";
  bool force = false;
};

// Registers `plot FILE... [--out FILE] [--size WxH] [--force]` on `app` and
// returns the subcommand; parsing fills `options`, which must outlive `app`.
CLI::App* AddPlotCommand(CLI::App& app, PlotOptions& options);

// Draws one chart of the day files given to `plot`, in their order (see
// plot_chart.h), as a PNG or an SVG picture by the extension of --out,
// without a display (on Qt's offscreen platform, whatever QT_QPA_PLATFORM
// says), and prints what it wrote. Every file is read and checked as
// `verify` checks it; a file that cannot be read, is not a sound day file or
// whose doors and channels cannot be read is named on stderr and nothing is
// written, unless `force` is set: then what can be read is drawn and the
// problems are still reported. Returns 0 when the chart was written, 1 when a
// file was refused or the chart could not be written, 2 for a bad --out (its
// extension, or a folder that is missing or cannot be written) or --size
// (before any file is read) and for a file larger than any day file.
int RunPlotCommand(const PlotOptions& options);

}  // namespace tly

#endif  // TLY_CLI_PLOT_COMMAND_H_
