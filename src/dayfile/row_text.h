#ifndef TLY_DAYFILE_ROW_TEXT_H_
#define TLY_DAYFILE_ROW_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The text of a day file's data row: fields separated by TAB, the shop code,
// the date "dd/mm/yyyy", the time "hh:nn", then one count field per channel,
// each a blank and the signed decimal count. The format itself is described
// in doc/day-file-format.md.

namespace tly {

inline constexpr char kFieldDelimiter = '\t';
// A row holds at most this many count fields.
inline constexpr int32_t kMaxRowCounts = 64;
// ExtractField and FieldReader cut a field to this many characters.
inline constexpr size_t kMaxFieldLength = 255;

// The date and quarter hour a row is stamped with.
struct RowStamp {
  int32_t Day = 0;
  int32_t Month = 0;
  int32_t Year = 0;
  int32_t Hour = 0;
  int32_t Minute = 0;
};

// The longest row, without line end, that PutRow can write for `shop_code`
// and `counts` count fields.
size_t MaxRowLength(std::string_view shop_code, int32_t counts);

// Writes the row text of `stamp` with the first `n` (0..64) counts of
// `counts` at `out`, without line end, and returns the position behind it.
// `out` needs MaxRowLength(shop_code, n) bytes. Day, month and hour are
// written with at least two digits, the year with at least four, like
// printf's "%.2d" and "%.4d"; counts in plain signed decimal.
char* PutRow(char* out, std::string_view shop_code, const RowStamp& stamp, const int32_t* counts,
             int32_t n);

// Field `n` (from 0) of `line` split at `delimiter`, cut to its first 255
// characters; "" for an empty field, a field beyond the last delimiter or a
// negative `n`.
std::string ExtractField(std::string_view line, char delimiter, int32_t n);

// Hands out the TAB-separated fields of a line one after the other, each cut
// like ExtractField's, so that a long line is walked once and not once per
// field. After the last field it hands out empty fields.
class FieldReader {
 public:
  explicit FieldReader(std::string_view line) : rest_(line) {}
  std::string_view Next();

 private:
  std::string_view rest_;
  bool exhausted_ = false;
};

// The integer a field stands for, read leniently: blanks and control
// characters around it are ignored, then an optional '+' or '-' and decimal
// digits only, within the signed 32-bit range. False (and `value` unchanged)
// for anything else.
bool ParseFieldInteger(std::string_view text, int32_t& value);

// ParseFieldInteger of characters `first` (1-based) to `first + count - 1` of
// `text`, as far as `text` reaches.
bool ParseCharsInteger(std::string_view text, size_t first, size_t count, int32_t& value);

}  // namespace tly

#endif  // TLY_DAYFILE_ROW_TEXT_H_
