#ifndef TLY_DAYFILE_LINE_SCANNER_H_
#define TLY_DAYFILE_LINE_SCANNER_H_

#include <cstddef>
#include <string_view>

// The one walk over the lines of a day file's bytes, shared by every reader
// of the format: the strict reader sees how each line ended, the lenient ones
// take the line as the loader always has. The format itself is described in
// doc/day-file-format.md.

namespace tly {

// How a line of a day file ended.
enum class LineEnd {
  kCrLf,     // CR LF, as the format has it
  kLf,       // LF without CR
  kCrAtEnd,  // a CR and then the end of the bytes: the file ends inside a line end
  kNone,     // the end of the bytes: the file ends inside a line
};

// One line of a day file, as views into the scanned bytes.
struct ScannedLine {
  std::string_view text;   // without its line end (a CR before LF, or at the very end, is one)
  std::string_view whole;  // with its line end, exactly as in the bytes
  LineEnd end = LineEnd::kNone;

  // The line as a lenient reader takes it: a CR ends a line only before LF,
  // so a last line without LF keeps a CR it ends with.
  std::string_view Lenient() const { return end == LineEnd::kCrAtEnd ? whole : text; }
};

// Hands out the lines of `bytes` one after the other: each runs to the next
// LF or to the end of the bytes; empty bytes hold no line, and bytes ending
// with LF hold no empty line after it.
class LineScanner {
 public:
  explicit LineScanner(std::string_view bytes) : rest_(bytes) {}

  // The next line into `line`; false (and `line` unchanged) after the last.
  bool Next(ScannedLine& line);

 private:
  std::string_view rest_;
};

}  // namespace tly

#endif  // TLY_DAYFILE_LINE_SCANNER_H_
