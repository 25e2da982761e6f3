#include "dayfile/sealed_image.h"

#include "cipher/cipher_fmt.h"
#include "cipher/cipher_hash.h"
#include "dayfile/day_file_lines.h"

namespace tly {

std::string SealOfRows(std::string_view rows) {
  return rows.empty() ? std::string()
                      : HashString(TCipherHashAlg2::Class(), rows, TFormat_HEX::Class());
}

std::string AssembleDayFile(const std::vector<std::string>& header_lines, std::string_view rows) {
  size_t size = kTitleLine1.size() + kTitleLine2.size() + 2 * kLineEnd.size() + rows.size();
  for (const std::string& line : header_lines) size += line.size() + kLineEnd.size();
  std::string image;
  image.reserve(size);
  for (const std::string& line : header_lines) {
    image += line;
    image += kLineEnd;
  }
  image += kTitleLine1;
  image += kLineEnd;
  image += kTitleLine2;
  image += kLineEnd;
  image += rows;
  return image;
}

}  // namespace tly
