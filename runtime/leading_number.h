// Reading the number a text begins with: blanks, an optional '+' or '-', then digits up to the
// first other character; no digit reads as 0. For byte texts and for the window system's wide
// ones alike.
//
// The callers differ in two ways, each said at its call: which blanks may stand before the
// number (Blanks), and the range the whole number saturates at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

namespace tw {

enum class Blanks {
  // Space and the controls from tab to carriage return (tab, LF, VT, FF, CR).
  SpaceAndTabToReturn,
  // Space, tab, CR and LF only.
  SpaceTabCrLf,
};

template <typename Char>
constexpr bool IsNumberBlank(Char c, Blanks blanks) {
  if (c == Char(' ') || c == Char('\t') || c == Char('\r') || c == Char('\n')) return true;
  return blanks == Blanks::SpaceAndTabToReturn && (c == Char('\v') || c == Char('\f'));
}

// Where a number's sign has been read: the offset after the blanks and the sign.
struct SignedStart {
  bool negative = false;
  std::size_t at = 0;
};

template <typename Char>
constexpr SignedStart ReadSign(std::basic_string_view<Char> t, Blanks blanks) {
  SignedStart s;
  while (s.at < t.size() && IsNumberBlank(t[s.at], blanks)) ++s.at;
  if (s.at < t.size() && (t[s.at] == Char('+') || t[s.at] == Char('-'))) {
    s.negative = t[s.at] == Char('-');
    ++s.at;
  }
  return s;
}

// The leading whole number, saturated at [min, max]; any number of digits is safe.
template <typename Char>
constexpr std::int64_t LeadingWhole(std::basic_string_view<Char> t, Blanks blanks, std::int64_t min,
                                    std::int64_t max) {
  constexpr std::uint64_t kAll = std::numeric_limits<std::uint64_t>::max();
  constexpr auto kMax64 = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  const SignedStart s = ReadSign(t, blanks);
  std::uint64_t magnitude = 0;
  for (std::size_t i = s.at; i < t.size() && t[i] >= Char('0') && t[i] <= Char('9'); ++i) {
    const auto digit = static_cast<std::uint64_t>(t[i] - Char('0'));
    magnitude = magnitude > (kAll - digit) / 10 ? kAll : magnitude * 10 + digit;
  }
  std::int64_t value = 0;
  if (magnitude > kMax64) {
    value = s.negative ? std::numeric_limits<std::int64_t>::min()
                       : std::numeric_limits<std::int64_t>::max();
  } else {
    value =
        s.negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  }
  return value < min ? min : (value > max ? max : value);
}

template <typename Char>
constexpr std::int32_t LeadingWhole32(std::basic_string_view<Char> t, Blanks blanks) {
  return static_cast<std::int32_t>(LeadingWhole(t, blanks, std::numeric_limits<std::int32_t>::min(),
                                                std::numeric_limits<std::int32_t>::max()));
}

}  // namespace tw
