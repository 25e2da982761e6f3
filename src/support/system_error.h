#ifndef TLY_SUPPORT_SYSTEM_ERROR_H_
#define TLY_SUPPORT_SYSTEM_ERROR_H_

#include <string>
#include <system_error>

namespace tly {

// Throws std::system_error for the system error `error` (an errno value);
// `what` names the operation and the path, e.g. "cannot create /x/261207.tmp".
[[noreturn]] void ThrowSystemError(int error, const std::string& what);

// The system's text for `error` without trailing blanks, line breaks and full
// stops, so that it fits on one line of a log or a message.
std::string OneLineErrorText(const std::error_code& error);

}  // namespace tly

#endif  // TLY_SUPPORT_SYSTEM_ERROR_H_
