// Searching, replacing, lower-casing and trimming inside GBK texts. A byte of 0x80 or more
// starts a double-byte character together with the byte after it; these commands step over
// whole characters so that a match never begins, and a change never lands, on a second byte.
#include <cstdint>
#include <optional>
#include <string_view>

#include "runtime/gbk_text.h"
#include "runtime/text.h"

namespace tw {
namespace {

// 0x80 leads here as in every value command; only the window controls take it for the euro.
constexpr gbk::LeadBytes kLeads = gbk::LeadBytes::From0x80;

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::size_t CharLength(std::string_view t, std::size_t i) {
  return gbk::CharLength(t, i, kLeads);
}

// A lead byte with nothing after it is half a character: no match may begin there, though
// everywhere else it steps as a character of one byte.
bool IsTruncatedLead(std::string_view t, std::size_t i) {
  return gbk::IsLeadByte(t[i], kLeads) && i + 1 == t.size();
}

// Whether `sought` is at offset `at` of `text` (enough bytes must remain). Loosely, ASCII
// letters match either case; the second byte of a double-byte character always matches
// exactly, so that two different Chinese characters never pass for each other.
bool MatchesAt(std::string_view text, std::size_t at, std::string_view sought, bool loose) {
  if (!loose) return text.compare(at, sought.size(), sought) == 0;
  for (std::size_t j = 0; j < sought.size(); ++j) {
    const char a = text[at + j];
    const char b = sought[j];
    if (CharLength(sought, j) == 2) {
      if (a != b || text[at + j + 1] != sought[j + 1]) return false;
      ++j;
    } else if (AsciiLower(a) != AsciiLower(b)) {
      return false;
    }
  }
  return true;
}

// The 0-based start offset of a 1-based position, at least 0; wide arithmetic so that any int
// is safe.
std::size_t StartOffset(std::optional<int> start) {
  if (!start) return 0;
  const std::int64_t s = std::int64_t{*start} - 1;
  return s < 0 ? 0 : static_cast<std::size_t>(s);
}

}  // namespace

int FindText(std::string_view text, std::string_view sought, std::optional<int> start,
             bool caseInsensitive) {
  const std::size_t s = StartOffset(start);
  if (s >= text.size()) return -1;
  if (sought.empty()) return 1;
  for (std::size_t i = s; i < text.size(); i += CharLength(text, i)) {
    if (text.size() - i < sought.size() || IsTruncatedLead(text, i)) return -1;
    if (MatchesAt(text, i, sought, caseInsensitive)) return static_cast<int>(i + 1);
  }
  return -1;
}

Text ToLower(std::string_view t) {
  Text out(t);
  for (std::size_t i = 0; i < out.size(); i += CharLength(out, i)) {
    out[i] = AsciiLower(out[i]);
  }
  return out;
}

Text TrimText(std::string_view t) {
  auto spaceAt = [&](std::size_t i) -> std::size_t {
    if (t[i] == ' ') return 1;
    if (t[i] == '\xA1' && i + 1 < t.size() && t[i + 1] == '\xA1') return 2;
    return 0;
  };
  std::size_t begin = 0;
  while (begin < t.size()) {
    const std::size_t n = spaceAt(begin);
    if (n == 0) break;
    begin += n;
  }
  // The trailing run is found walking forward, since only the walk knows where characters
  // start: "\xB0\xA1\xA1" ends in a lone lead byte, not in a full-width space.
  std::size_t end = begin;
  for (std::size_t i = begin; i < t.size();) {
    const std::size_t n = spaceAt(i);
    if (n > 0) {
      i += n;
    } else {
      i += CharLength(t, i);
      end = i;
    }
  }
  return Text(t.substr(begin, end - begin));
}

Text ReplaceText(std::string_view text, std::string_view sought, std::string_view replacement,
                 std::optional<int> start, std::optional<int> count, bool caseSensitive) {
  const std::size_t s = StartOffset(start);
  // A negative or absent count has no limit.
  std::int64_t left = count && *count >= 0 ? *count : -1;
  if (text.empty() || sought.empty() || s >= text.size() || left == 0) return Text(text);
  Text out(text.substr(0, s));
  std::size_t i = s;
  while (i < text.size()) {
    if (text.size() - i < sought.size() || IsTruncatedLead(text, i)) break;
    if (MatchesAt(text, i, sought, !caseSensitive)) {
      out.append(replacement);
      i += sought.size();
      if (left > 0 && --left == 0) break;
    } else {
      const std::size_t n = CharLength(text, i);
      out.append(text.substr(i, n));
      i += n;
    }
  }
  out.append(text.substr(i));
  return out;
}

}  // namespace tw
