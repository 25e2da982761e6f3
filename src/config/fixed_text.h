#ifndef TLY_CONFIG_FIXED_TEXT_H_
#define TLY_CONFIG_FIXED_TEXT_H_

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace tly {

// A single-byte text of at most `Capacity` characters, held by value. Storing
// a longer value keeps only its first `Capacity` characters, so the field can
// never grow beyond what the day file's header allows for it.
template <std::size_t Capacity>
class FixedText {
 public:
  static constexpr std::size_t kCapacity = Capacity;

  FixedText() = default;
  // Stores `text`, cut to the capacity.
  FixedText(std::string_view text) { Set(text); }  // NOLINT: implicit on purpose

  // Replaces the value with `text`, cut to the capacity.
  void Set(std::string_view text) {
    length_ = text.size() < Capacity ? text.size() : Capacity;
    text.copy(chars_.data(), length_);
  }
  void Clear() { length_ = 0; }

  std::string_view View() const { return std::string_view(chars_.data(), length_); }
  std::string Str() const { return std::string(View()); }
  std::size_t Length() const { return length_; }
  bool Empty() const { return length_ == 0; }

  FixedText& operator=(std::string_view text) {
    Set(text);
    return *this;
  }
  friend bool operator==(const FixedText& a, const FixedText& b) { return a.View() == b.View(); }
  friend bool operator==(const FixedText& a, std::string_view b) { return a.View() == b; }

 private:
  std::array<char, Capacity> chars_{};
  std::size_t length_ = 0;
};

}  // namespace tly

#endif  // TLY_CONFIG_FIXED_TEXT_H_
