#include "support/system_error.h"

namespace tly {

void ThrowSystemError(int error, const std::string& what) {
  throw std::system_error(error, std::generic_category(), what);
}

std::string OneLineErrorText(const std::error_code& error) {
  std::string text = error.message();
  while (!text.empty() &&
         (text.back() == ' ' || text.back() == '\r' || text.back() == '\n' || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

}  // namespace tly
