#include "cli/usage_message.h"

#include <CLI/CLI.hpp>
#include <string_view>
#include <vector>

namespace tly {
namespace {

std::string Joined(const std::vector<std::string>& words, std::string_view separator) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : std::string(separator)) + word;
  return text;
}

// Whether `error` is of the parser's type `Kind`: told by type, as the parser
// names some of its errors after the command instead.
template <typename Kind>
bool Is(const CLI::ParseError& error) {
  return dynamic_cast<const Kind*>(&error) != nullptr;
}

bool IsOptionWord(const std::string& word) {
  return word.size() > 1 && word[0] == '-';
}

// Words the parser could not place: options nobody has and arguments too
// many (the parser's own text lists them back to front). A command passes on
// what it cannot place to the program, so they are gathered from both.
std::string ExtrasMessage(const CLI::App& program, const CLI::App* command) {
  const std::vector<std::string> left = program.remaining(true);
  if (command == nullptr && !left.empty() && !IsOptionWord(left.front())) {
    std::vector<std::string> names;
    for (const CLI::App* sub : program.get_subcommands({})) names.push_back(sub->get_name());
    return left.front() + " is not a command (" + Joined(names, ", ") + ")";
  }
  std::vector<std::string> options;
  std::vector<std::string> arguments;
  for (const std::string& word : left) (IsOptionWord(word) ? options : arguments).push_back(word);
  std::vector<std::string> parts;
  if (!options.empty()) {
    parts.push_back(
        std::string(options.size() == 1 ? "there is no option " : "there are no options ") +
        Joined(options, ", "));
  }
  if (!arguments.empty()) {
    parts.push_back(
        std::string(arguments.size() == 1 ? "unexpected argument " : "unexpected arguments ") +
        Joined(arguments, " "));
  }
  return Joined(parts, "; ");
}

// How an option or argument is written in the help: "--out DIR", "FILE...".
std::string Written(const CLI::App& command, const std::string& name) {
  const CLI::Option* option = command.get_option_no_throw(name);
  if (option == nullptr || option->get_type_name().empty()) return name;
  if (!option->nonpositional()) return option->get_type_name();
  return name + " " + option->get_type_name();
}

}  // namespace

std::string UsageMessage(const CLI::ParseError& error, const CLI::App& program,
                         const CLI::App* named_command) {
  std::string text = error.what();
  if (Is<CLI::ExtrasError>(error)) {
    std::string message = ExtrasMessage(program, named_command);
    if (!message.empty()) return message;
  }
  const CLI::App& command = named_command != nullptr ? *named_command : program;
  // The parser names the option first: "--seconds: At Most 1 required but
  // received 2", "--out: 1 required DIR missing", "FILE is required".
  const size_t colon = text.find(": ");
  const std::string named = text.substr(0, colon);
  if (Is<CLI::ArgumentMismatch>(error) && colon != std::string::npos) {
    if (text.find("At Most", colon) != std::string::npos) return named + " is given more than once";
    if (text.find("missing", colon) != std::string::npos) {
      return named + " needs a value: " + Written(command, named);
    }
  }
  constexpr std::string_view kRequired = " is required";
  if (Is<CLI::RequiredError>(error) && text.ends_with(kRequired)) {
    const std::string name = text.substr(0, text.size() - kRequired.size());
    const CLI::Option* option = command.get_option_no_throw(name);
    if (option != nullptr && option->get_expected_max() > 1) return "give at least one " + name;
    return Written(command, name) + " is missing";
  }
  return text;
}

}  // namespace tly
