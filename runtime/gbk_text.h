// Stepping through the characters of a GBK text: how many bytes the character at a position
// takes, how many characters a text holds, and where to cut it without splitting one.
//
// Which bytes lead a double-byte character is the caller's choice, since the program has two
// answers and each is relied on: see LeadBytes. What every caller shares: a lead byte with
// nothing after it is a character of one byte, so a walk always ends at the text's end.
#pragma once

#include <cstddef>
#include <string_view>

namespace tw::gbk {

enum class LeadBytes {
  // Every byte from 0x80 starts a double-byte character: the rule of the value commands, and of
  // everything that must step in agreement with them.
  From0x80,
  // Code page 936 itself: bytes 0x81 to 0xFE start one; 0x80 (the one-byte euro sign) and 0xFF
  // stand alone. The rule of the window system's own controls and of its private-profile
  // functions.
  From0x81,
  // No byte leads: every byte is a character (a text that is not GBK at all).
  None,
};

constexpr bool IsLeadByte(char c, LeadBytes leads) {
  const auto b = static_cast<unsigned char>(c);
  switch (leads) {
    case LeadBytes::From0x80:
      return b >= 0x80;
    case LeadBytes::From0x81:
      return b >= 0x81 && b <= 0xFE;
    case LeadBytes::None:
      break;
  }
  return false;
}

// Bytes of the character starting at `i` (i < t.size()): 2 for a lead byte with a byte after it,
// else 1.
constexpr std::size_t CharLength(std::string_view t, std::size_t i, LeadBytes leads) {
  return IsLeadByte(t[i], leads) && i + 1 < t.size() ? 2 : 1;
}

constexpr std::size_t CountChars(std::string_view t, LeadBytes leads) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < t.size(); i += CharLength(t, i, leads)) ++n;
  return n;
}

// Where the last character starts (0 for an empty text). Only a walk from the start can tell:
// a trail byte looks like a single byte or a lead byte.
constexpr std::size_t LastCharStart(std::string_view t, LeadBytes leads) {
  std::size_t last = 0;
  for (std::size_t i = 0; i < t.size(); i += CharLength(t, i, leads)) last = i;
  return last;
}

// The length of the longest start of `t` that holds whole characters only and at most `limit`
// bytes.
constexpr std::size_t FitBytes(std::string_view t, std::size_t limit, LeadBytes leads) {
  if (t.size() <= limit) return t.size();  // the last character ends at the end, so it fits
  std::size_t i = 0;
  while (i < t.size()) {
    const std::size_t n = CharLength(t, i, leads);
    if (i + n > limit) break;
    i += n;
  }
  return i;
}

// The length in bytes of the first `count` characters of `t` (all of it when it holds fewer).
constexpr std::size_t FitChars(std::string_view t, std::size_t count, LeadBytes leads) {
  std::size_t i = 0;
  for (std::size_t n = 0; i < t.size() && n < count; ++n) i += CharLength(t, i, leads);
  return i;
}

}  // namespace tw::gbk
