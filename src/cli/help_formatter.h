#ifndef TLY_MAIN_HELP_FORMATTER_H_
#define TLY_MAIN_HELP_FORMATTER_H_

#include <CLI/CLI.hpp>
#include <string>

namespace tly {

// The help's layout, as the parser draws it but for the arguments: each is
// shown as the usage line writes it ("FILE..."), not as "FILE FILE... ...
// REQUIRED". Set on the program before its commands are added, which take
// it over.
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_option_opts(const CLI::Option* option) const override;
};

}  // namespace tly

#endif  // TLY_MAIN_HELP_FORMATTER_H_
