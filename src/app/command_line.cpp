#include "app/command_line.h"

#include <signal.h>

#include <CLI/CLI.hpp>
#include <QApplication>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include "cli/backfill_command.h"
#include "cli/command_style.h"
#include "cli/deliver_command.h"
#include "cli/exit_codes.h"
#include "cli/help_formatter.h"
#include "cli/plot_command.h"
#include "cli/run_command.h"
#include "cli/scenario_command.h"
#include "cli/seal_command.h"
#include "cli/serve_command.h"
#include "cli/usage_message.h"
#include "cli/verify_command.h"
#include "gui/display_check.h"
#include "gui/quit_signals.h"
#include "gui/tmainwnd.h"
#include "version.h"

namespace tly {

namespace {

int RunWindow(int argc, char** argv) {
  std::string why_not;
  if (!DisplayUsable(why_not)) {
    std::fprintf(stderr,
                 "tly-generator: the window needs a display, and %s.\n"
                 "Without one, 'tly-generator run --out DIR' generates into DIR "
                 "('tly-generator help run' tells more).\n",
                 why_not.c_str());
    return kExitUsage;
  }
  QApplication application(argc, argv);
  TMainWnd window;
  CloseOnQuitSignals(window);
  window.show();
  return application.exec();
}

// The subcommand `argv` names, or "" for none: errors of its options carry
// its name.
std::string CommandNamed(int argc, char** argv, const CLI::App& app) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (!word.empty() && word[0] == '-') continue;
    for (const CLI::App* command : app.get_subcommands({})) {
      if (command->get_name() == word) return word;
    }
    return "";
  }
  return "";
}

// Prints `text` (a help or the version) on stdout; a text that could not be
// written is a failure, said on stderr.
int PrintAnswer(const std::string& command, const std::string& text) {
  CommandOutput output(command);
  output.Partial(text);
  return output.Finish(kExitOk);
}

}  // namespace

int RunCommandLine(int argc, char** argv, const StudioOpener& studio) {
  CLI::App app(
      "TLY Generator: simulates a people-counting site and keeps its TLY day files (yymmdd.tly) "
      "up to date.\nWithout a command it opens its window.",
      "tly-generator");
  app.formatter(std::make_shared<HelpFormatter>());
  app.set_version_flag("--version", "tly-generator " TLY_GENERATOR_VERSION);
  app.require_subcommand(0, 1);

  RunOptions run_options;
  CLI::App* run = AddRunCommand(app, run_options);
  BackfillOptions backfill_options;
  CLI::App* backfill = AddBackfillCommand(app, backfill_options);
  VerifyOptions verify_options;
  CLI::App* verify = AddVerifyCommand(app, verify_options);
  SealOptions seal_options;
  CLI::App* seal = AddSealCommand(app, seal_options);
  PlotOptions plot_options;
  CLI::App* plot = AddPlotCommand(app, plot_options);
  ScenarioOptions scenario_options;
  CLI::App* scenario = AddScenarioCommand(app, scenario_options);
  DeliverOptions deliver_options;
  CLI::App* deliver = AddDeliverCommand(app, deliver_options);
  ServeOptions serve_options;
  CLI::App* serve = AddServeCommand(app, serve_options);
  std::string studio_scenario;
  CLI::App* studio_command = app.add_subcommand(
      "studio", "Open the studio window: scenarios, day charts, history, checks and deliveries");
  studio_command->add_option("SCENARIO", studio_scenario, "A scenario file to open")->type_name("");
  std::string help_topic;
  CLI::App* help = app.add_subcommand("help", "Show the help of the program or of COMMAND");
  help->add_option("COMMAND", help_topic, "The command to describe")->type_name("");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Help and version end well; every other error is a usage error.
    const std::string command = CommandNamed(argc, argv, app);
    if (error.get_exit_code() == 0) {
      std::ostringstream text;
      app.exit(error, text, text);
      return PrintAnswer(command, text.str());
    }
    const std::string who = command.empty() ? "tly-generator" : "tly-generator " + command;
    const std::string message =
        UsageMessage(error, app, command.empty() ? nullptr : app.get_subcommand(command));
    std::fprintf(stderr, "%s: %s\nRun 'tly-generator help%s' for the options.\n", who.c_str(),
                 message.c_str(), command.empty() ? "" : (" " + command).c_str());
    return kExitUsage;
  }

  if (help->parsed()) {
    // Through the formatter: the program's own help() would show the help
    // of the command that was parsed, which is `help` itself.
    const auto formatter = app.get_formatter();
    if (help_topic.empty()) {
      return PrintAnswer("help",
                         formatter->make_help(&app, "tly-generator", CLI::AppFormatMode::Normal));
    }
    for (CLI::App* command : app.get_subcommands({})) {
      if (command->get_name() == help_topic) {
        return PrintAnswer("help", command->help("tly-generator"));
      }
    }
    std::fprintf(stderr, "tly-generator help: there is no command %s\n", help_topic.c_str());
    return kExitUsage;
  }
  if (studio_command->parsed()) return studio(argc, argv, studio_scenario);
  if (!app.get_subcommands().empty()) {
    // A reader that went away (a closed pipe) must not kill a command that is
    // generating; the write fails instead and the command says so at the end.
    ::signal(SIGPIPE, SIG_IGN);
  }
  if (run->parsed()) return RunGeneration(run_options);
  if (backfill->parsed()) return RunBackfillCommand(backfill_options);
  if (verify->parsed()) return RunVerifyCommand(verify_options);
  if (seal->parsed()) return RunSealCommand(seal_options);
  if (plot->parsed()) return RunPlotCommand(plot_options);
  if (scenario->parsed()) return RunScenarioCommand(scenario_options);
  if (deliver->parsed()) return RunDeliverCommand(deliver_options);
  if (serve->parsed()) return RunServeCommand(serve_options);
  return RunWindow(argc, argv);
}

}  // namespace tly
