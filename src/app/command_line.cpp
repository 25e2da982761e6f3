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
    std::string word = argv[i];
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

// Every command's options and the command that carries them, filled by
// AddCommands; a command's `parsed()` says which one the line named.
struct Commands {
  RunOptions run_options;
  CLI::App* run = nullptr;
  BackfillOptions backfill_options;
  CLI::App* backfill = nullptr;
  VerifyOptions verify_options;
  CLI::App* verify = nullptr;
  SealOptions seal_options;
  CLI::App* seal = nullptr;
  PlotOptions plot_options;
  CLI::App* plot = nullptr;
  ScenarioOptions scenario_options;
  CLI::App* scenario = nullptr;
  DeliverOptions deliver_options;
  CLI::App* deliver = nullptr;
  ServeOptions serve_options;
  CLI::App* serve = nullptr;
  std::string studio_scenario;
  CLI::App* studio = nullptr;
  std::string help_topic;
  CLI::App* help = nullptr;
};

// Declares the program and every command on `app`, in the order the help
// lists them; `commands` must outlive the parse.
void AddCommands(CLI::App& app, Commands& commands) {
  app.formatter(std::make_shared<HelpFormatter>());
  app.set_version_flag("--version", "tly-generator " TLY_GENERATOR_VERSION);
  app.require_subcommand(0, 1);
  commands.run = AddRunCommand(app, commands.run_options);
  commands.backfill = AddBackfillCommand(app, commands.backfill_options);
  commands.verify = AddVerifyCommand(app, commands.verify_options);
  commands.seal = AddSealCommand(app, commands.seal_options);
  commands.plot = AddPlotCommand(app, commands.plot_options);
  commands.scenario = AddScenarioCommand(app, commands.scenario_options);
  commands.deliver = AddDeliverCommand(app, commands.deliver_options);
  commands.serve = AddServeCommand(app, commands.serve_options);
  commands.studio = app.add_subcommand(
      "studio", "Open the studio window: scenarios, day charts, history, checks and deliveries");
  commands.studio->add_option("SCENARIO", commands.studio_scenario, "A scenario file to open")
      ->type_name("");
  commands.help = app.add_subcommand("help", "Show the help of the program or of COMMAND");
  commands.help->add_option("COMMAND", commands.help_topic, "The command to describe")
      ->type_name("");
}

// Answers a parse that did not end in a command: help and version are printed
// and end well; every other error is a usage error, said on stderr.
int AnswerParseError(int argc, char** argv, const CLI::App& app, const CLI::ParseError& error) {
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

// `help [COMMAND]`: the program's help, or the help of the command named
// `topic`; a topic that names no command is a usage error.
int RunHelp(CLI::App& app, const std::string& topic) {
  // Through the formatter: the program's own help() would show the help
  // of the command that was parsed, which is `help` itself.
  const auto formatter = app.get_formatter();
  if (topic.empty()) {
    return PrintAnswer("help",
                       formatter->make_help(&app, "tly-generator", CLI::AppFormatMode::Normal));
  }
  for (CLI::App* command : app.get_subcommands({})) {
    if (command->get_name() == topic) return PrintAnswer("help", command->help("tly-generator"));
  }
  std::fprintf(stderr, "tly-generator help: there is no command %s\n", topic.c_str());
  return kExitUsage;
}

// Runs the command-line command that was parsed, or the window when none was.
int RunParsedCommand(int argc, char** argv, const CLI::App& app, const Commands& commands) {
  if (!app.get_subcommands().empty()) {
    // A reader that went away (a closed pipe) must not kill a command that is
    // generating; the write fails instead and the command says so at the end.
    ::signal(SIGPIPE, SIG_IGN);
  }
  if (commands.run->parsed()) return RunGeneration(commands.run_options);
  if (commands.backfill->parsed()) return RunBackfillCommand(commands.backfill_options);
  if (commands.verify->parsed()) return RunVerifyCommand(commands.verify_options);
  if (commands.seal->parsed()) return RunSealCommand(commands.seal_options);
  if (commands.plot->parsed()) return RunPlotCommand(commands.plot_options);
  if (commands.scenario->parsed()) return RunScenarioCommand(commands.scenario_options);
  if (commands.deliver->parsed()) return RunDeliverCommand(commands.deliver_options);
  if (commands.serve->parsed()) return RunServeCommand(commands.serve_options);
  return RunWindow(argc, argv);
}

}  // namespace

int RunCommandLine(int argc, char** argv, const StudioOpener& studio) {
  CLI::App app(
      "TLY Generator: simulates a people-counting site and keeps its TLY day files (yymmdd.tly) "
      "up to date.\nWithout a command it opens its window.",
      "tly-generator");
  Commands commands;
  AddCommands(app, commands);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return AnswerParseError(argc, argv, app, error);
  }
  if (commands.help->parsed()) return RunHelp(app, commands.help_topic);
  if (commands.studio->parsed()) return studio(argc, argv, commands.studio_scenario);
  return RunParsedCommand(argc, argv, app, commands);
}

}  // namespace tly
