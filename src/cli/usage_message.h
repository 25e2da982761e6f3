#ifndef TLY_MAIN_USAGE_MESSAGE_H_
#define TLY_MAIN_USAGE_MESSAGE_H_

#include <string>

namespace CLI {
class App;
class ParseError;
}  // namespace CLI

namespace tly {

// What is wrong with a command line the parser refused, in the program's own
// words ("there is no option --json", "--seconds is given more than once",
// "give at least one FILE"), for the "tly-generator COMMAND: " prefix.
// `program` is the whole parser, `command` the command the line names
// (nullptr for none); the parser's own text is kept only for refusals not
// described here.
std::string UsageMessage(const CLI::ParseError& error, const CLI::App& program,
                         const CLI::App* command);

}  // namespace tly

#endif  // TLY_MAIN_USAGE_MESSAGE_H_
