// The settings-file format: finding and editing one key of one section in the bytes of an
// INI file, leaving every other byte alone. Pure functions over byte buffers, so the same code
// serves every platform, the tests and the fuzzer; reading and replacing the file is the
// caller's business.
//
// Format, as the Windows private-profile functions write and read it:
//   - lines end in CRLF or LF (CR LF is written); blanks (space and tab) before a line's text
//     are ignored, other control bytes there belong to the text, as with the platform's own
//     functions;
//   - "[name]" starts a section, the name being what lies between '[' and the last ']' of the
//     line, blanks around it ignored; the first section of a name is the one that counts;
//   - "key=value" inside a section; blanks before the key and between key and '=' are ignored,
//     the value is every byte after '=' up to the line end or a NUL byte, so a value comes back
//     exactly as it was written (Windows would trim blanks and strip quotes here; this reader
//     does not, so "是 " stays "是 "), and a text never holds a NUL;
//   - section and key names compare without regard to case (ASCII, and the full-width Latin,
//     Greek and Cyrillic letters of GBK), double-byte characters never split; they are stepped
//     as code page 936 does, so 0x80 and 0xFF are characters of one byte and never swallow the
//     ']' or '=' after them;
//   - the section and key names a read or write is given lose, at both ends, the bytes the
//     platform's functions drop there (see IsNameSpace), whether they read or write, so that
//     a name with another control byte in front ("\x01k") is its own key on both sides;
//   - any other line (comments, junk, keys before the first section) is kept as it is.
// A key that itself holds '=' is found by its full text ("a=b=1" is the key "a=b" with value
// "1" when "a=b" is asked for), so database names with '=' round-trip. Such a line also
// answers for the shorter key ("a" with value "b=1"), but only when the section holds no line
// that is surely that key's own (one whose value holds no '=', such as "a=2"); reads and
// writes of "a" then go to "a=2" and leave "a=b=1" alone.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tw::ini {

// How the file's own bytes are encoded. GBK files are the norm; a file saved as UTF-8 with a
// byte-order mark is edited in UTF-8 (names then fold ASCII letters only).
enum class Charset { Gbk, Utf8 };

// The most a read hands back; longer values are cut, never in the middle of a character.
inline constexpr std::size_t kMaxValueBytes = 10239;

// True for the blanks that are skipped around names in the file: space and tab.
constexpr bool IsBlank(unsigned char c) {
  return c == ' ' || c == '\t';
}
std::string_view TrimBlanks(std::string_view s);
std::string_view SkipLeadingBlanks(std::string_view s);

// True for the bytes dropped around the names a read or write is given: space, tab, the other
// line controls 0x0A-0x0D and 0x1A (the old end-of-file mark), as the platform's functions
// count spaces. Other control bytes belong to the name.
constexpr bool IsNameSpace(unsigned char c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x1A;
}
// `name` without the IsNameSpace bytes at either end.
std::string_view TrimName(std::string_view name);

// Case-insensitive name comparison (see above).
bool NamesEqual(std::string_view a, std::string_view b, Charset cs = Charset::Gbk);

// The value stored under `key` in the first section called `section`; nullopt when the
// section or the key is missing. Names are compared after TrimName.
std::optional<std::string_view> Find(std::string_view content, std::string_view section,
                                     std::string_view key, Charset cs = Charset::Gbk);

// `value` cut to at most `limit` bytes without leaving half a double-byte character.
std::string_view CutValue(std::string_view value, std::size_t limit = kMaxValueBytes,
                          Charset cs = Charset::Gbk);

enum class EditStatus {
  Changed,    // `content` holds the new file
  Unchanged,  // the file already says so (or there was nothing to remove)
  Refused,    // the names or the value cannot be stored in this format
};

struct EditResult {
  EditStatus status = EditStatus::Refused;
  std::string content;
};

// Sets `key` to `value` in `section` (in place when the key exists, at the end of the section
// otherwise, at the end of the file in a new section when the section is missing); with the
// value absent removes the key; with the key absent removes every section of that name.
// Names are written after TrimName. A value holding '=' that goes to a key with lines of its
// own takes the first of them (a new line in front when a longer key's line would answer
// first) and the others go, so that the key reads back what was written.
// Refused: a section or key that is blank, or would read back as a section header, a name
// holding CR, LF or NUL within it, or a value holding any (it would split the line and forge
// others).
EditResult Edit(std::string_view content, std::string_view section,
                std::optional<std::string_view> key, std::optional<std::string_view> value,
                Charset cs = Charset::Gbk);

}  // namespace tw::ini
