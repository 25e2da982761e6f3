#include "cli/help_formatter.h"

namespace tly {

std::string HelpFormatter::make_option_opts(const CLI::Option* option) const {
  if (!option->nonpositional()) return option->get_expected_max() > 1 ? "..." : "";
  return CLI::Formatter::make_option_opts(option);
}

}  // namespace tly
