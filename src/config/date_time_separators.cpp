#include "config/date_time_separators.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <mutex>
#include <string>
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

DateTimeSeparators LoadSeparators(const char* locale_name) {
  DateTimeSeparators separators;
  locale_t locale = newlocale(LC_TIME_MASK, locale_name, static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return separators;
  separators.Date = FirstLiteralSeparator(nl_langinfo_l(D_FMT, locale), separators.Date);
  separators.Time = FirstLiteralSeparator(nl_langinfo_l(T_FMT, locale), separators.Time);
  freelocale(locale);
  return separators;
}

// The environment variables that choose the user's LC_TIME locale (and where
// locales are found), one after the other.
std::string UserLocaleKey() {
  std::string key;
  for (const char* name : {"LC_ALL", "LC_TIME", "LANG", "LOCPATH"}) {
    const char* value = std::getenv(name);
    key += value != nullptr ? value : "";
    key += '\0';
  }
  return key;
}

}  // namespace

DateTimeSeparators LocaleDateTimeSeparators(const char* locale_name) {
  if (*locale_name != '\0') return LoadSeparators(locale_name);

  // Every header names the time of its update, and a saving generator builds
  // one every two seconds: the user's locale is loaded again only when the
  // environment that selects it has changed.
  static std::mutex mutex;
  static std::string cached_key;
  static DateTimeSeparators cached;
  std::string key = UserLocaleKey();
  const std::lock_guard<std::mutex> lock(mutex);
  if (cached_key.empty() || key != cached_key) {
    cached = LoadSeparators("");
    cached_key = std::move(key);
  }
  return cached;
}

}  // namespace tly
