#ifndef TLY_CONFIG_DATE_TIME_SEPARATORS_H_
#define TLY_CONFIG_DATE_TIME_SEPARATORS_H_

namespace tly {

// The characters a locale puts between day, month and year, and between hour,
// minute and second.
struct DateTimeSeparators {
  char Date = '/';
  char Time = ':';
};

// The separators of the LC_TIME part of the locale `locale_name`; "" names the
// user's locale as the environment (LC_ALL, LC_TIME, LANG) selects it. They
// are the first punctuation characters of the locale's date and time formats.
// A locale that cannot be loaded, or a format without such a character, gives
// '/' and ':'. Touches no process-wide locale setting. The user's locale is
// loaded again only when one of those variables (or LOCPATH) has changed.
DateTimeSeparators LocaleDateTimeSeparators(const char* locale_name = "");

}  // namespace tly

#endif  // TLY_CONFIG_DATE_TIME_SEPARATORS_H_
