// The GBK converter on Windows: code page 936 named explicitly, so that it works whatever
// the ANSI code page of the machine is. Characters that code page 936 cannot hold become
// '?', and bad input bytes become '?' on the way out as well.
#include <windows.h>

#include <climits>
#include <string>
#include <string_view>

#include "runtime/gbk.h"

namespace tw {
namespace {

constexpr UINT kGbk = 936;

// Texts longer than an int can count are converted piecewise; the cut is put after a
// complete character so that no double-byte character is split.
constexpr std::size_t kChunk = 1u << 28;

bool IsAscii(std::string_view s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::u16string MultiToWide(UINT codePage, std::string_view in) {
  std::u16string out;
  while (!in.empty()) {
    std::size_t n = in.size();
    if (n > kChunk) {
      n = kChunk;
      if (codePage == CP_UTF8) {
        while (n > 0 && (static_cast<unsigned char>(in[n]) & 0xC0) == 0x80) --n;
      } else {
        std::size_t i = 0;
        while (i < kChunk) i += static_cast<unsigned char>(in[i]) >= 0x80 ? 2 : 1;
        n = i > kChunk ? kChunk - 1 : i;
      }
    }
    const int len = MultiByteToWideChar(codePage, 0, in.data(), static_cast<int>(n), nullptr, 0);
    if (len > 0) {
      const std::size_t at = out.size();
      out.resize(at + static_cast<std::size_t>(len));
      MultiByteToWideChar(codePage, 0, in.data(), static_cast<int>(n),
                          reinterpret_cast<wchar_t*>(&out[at]), len);
    }
    in.remove_prefix(n);
  }
  return out;
}

std::string WideToMulti(UINT codePage, std::u16string_view in) {
  std::string out;
  while (!in.empty()) {
    std::size_t n = in.size();
    if (n > kChunk) {
      n = kChunk;
      if (in[n - 1] >= 0xD800 && in[n - 1] <= 0xDBFF) --n;  // keep a surrogate pair whole
    }
    const auto* src = reinterpret_cast<const wchar_t*>(in.data());
    // The default character of code page 936 is '?'; CP_UTF8 takes no default character.
    const int len =
        WideCharToMultiByte(codePage, 0, src, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    if (len > 0) {
      const std::size_t at = out.size();
      out.resize(at + static_cast<std::size_t>(len));
      WideCharToMultiByte(codePage, 0, src, static_cast<int>(n), &out[at], len, nullptr, nullptr);
    }
    in.remove_prefix(n);
  }
  return out;
}

// Windows turns bad input bytes into U+FFFD (UTF-8) or a private-use character; both leave
// the program as '?' so that GBK and UTF-8 outputs stay plain.
std::u16string Replaced(std::u16string s) {
  for (char16_t& c : s) {
    if (c == 0xFFFD) c = u'?';
  }
  return s;
}

}  // namespace

std::u16string GbkToUtf16(std::string_view gbk) {
  if (IsAscii(gbk)) return std::u16string(gbk.begin(), gbk.end());
  return Replaced(MultiToWide(kGbk, gbk));
}

Text Utf16ToGbk(std::u16string_view utf16) {
  bool ascii = true;
  for (const char16_t c : utf16) {
    if (c >= 0x80) ascii = false;
  }
  if (ascii) return Text(utf16.begin(), utf16.end());
  return WideToMulti(kGbk, utf16);
}

Text Utf8ToGbk(std::string_view utf8) {
  if (IsAscii(utf8)) return Text(utf8);
  return WideToMulti(kGbk, Replaced(MultiToWide(CP_UTF8, utf8)));
}

std::string GbkToUtf8(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  return WideToMulti(CP_UTF8, Replaced(MultiToWide(kGbk, gbk)));
}

}  // namespace tw
