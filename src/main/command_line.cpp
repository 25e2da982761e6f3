#include "command_line.h"

#include <CLI/CLI.hpp>
#include <QApplication>

#include "backfill_command.h"
#include "exit_codes.h"
#include "plot_command.h"
#include "quit_signals.h"
#include "run_command.h"
#include "tmainwnd.h"
#include "verify_command.h"
#include "version.h"

namespace tly {

namespace {

int RunWindow(int argc, char** argv) {
  QApplication application(argc, argv);
  TMainWnd window;
  CloseOnQuitSignals(window);
  window.show();
  return application.exec();
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
  CLI::App app(
      "TLY Generator: simulates a people-counting site and keeps its TLY day files (yymmdd.tly) "
      "up to date.\nWithout a command it opens its window.",
      "tly-generator");
  app.set_version_flag("--version", "tly-generator " TLY_GENERATOR_VERSION);
  app.require_subcommand(0, 1);

  RunOptions run_options;
  CLI::App* run = AddRunCommand(app, run_options);
  BackfillOptions backfill_options;
  CLI::App* backfill = AddBackfillCommand(app, backfill_options);
  VerifyOptions verify_options;
  CLI::App* verify = AddVerifyCommand(app, verify_options);
  PlotOptions plot_options;
  CLI::App* plot = AddPlotCommand(app, plot_options);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version end well; every usage error gives the usual code 2.
    return app.exit(e) == 0 ? kExitOk : kExitUsage;
  }

  if (run->parsed()) return RunGeneration(run_options);
  if (backfill->parsed()) return RunBackfillCommand(backfill_options);
  if (verify->parsed()) return RunVerifyCommand(verify_options);
  if (plot->parsed()) return RunPlotCommand(plot_options);
  return RunWindow(argc, argv);
}

}  // namespace tly
