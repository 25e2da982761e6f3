#include "config/date_time_separators.h"

#include <langinfo.h>
#include <locale.h>

#include <string_view>

namespace tly {
namespace {

// The first literal ASCII punctuation character of a strftime format, skipping
// conversions such as "%d", "%Ey" or "%-m". Multi-byte and alphanumeric
// literals are passed over because the day file is single-byte text.
char FirstLiteralSeparator(std::string_view format, char fallback) {
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c == '%') {
      ++i;
      while (i < format.size() &&
             std::string_view("_-^#EO0123456789").find(format[i]) != std::string_view::npos) {
        ++i;
      }
      continue;
    }
    const bool punctuation = (c >= '!' && c <= '/') || (c >= ':' && c <= '@') ||
                             (c >= '[' && c <= '`') || (c >= '{' && c <= '~');
    if (punctuation) return c;
  }
  return fallback;
}

}  // namespace

DateTimeSeparators LocaleDateTimeSeparators(const char* locale_name) {
  DateTimeSeparators separators;
  locale_t locale = newlocale(LC_TIME_MASK, locale_name, static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return separators;
  separators.Date = FirstLiteralSeparator(nl_langinfo_l(D_FMT, locale), separators.Date);
  separators.Time = FirstLiteralSeparator(nl_langinfo_l(T_FMT, locale), separators.Time);
  freelocale(locale);
  return separators;
}

}  // namespace tly
