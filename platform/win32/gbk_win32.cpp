// The GBK converter on Windows: code page 936 named explicitly, so that it works whatever
// the ANSI code page of the machine is. Broken input is handled here rather than left to
// Windows, so that both platforms agree: a lead byte without a proper second byte becomes one
// '?' and the byte after it still counts (Windows would swallow it), and a character outside
// the basic plane becomes one '?' (Windows writes one per surrogate).
#include <windows.h>

#include <string>
#include <string_view>

#include "runtime/gbk.h"

namespace tw {
namespace {

constexpr UINT kGbk = 936;

// Pieces handed to Windows stay well below what an int can count.
constexpr std::size_t kChunk = std::size_t{1} << 28;

bool IsAscii(std::string_view s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool IsSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

void AppendWide(UINT codePage, std::string_view in, std::u16string& out) {
  if (in.empty()) return;
  const int len =
      MultiByteToWideChar(codePage, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
  if (len <= 0) return;
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(len));
  MultiByteToWideChar(codePage, 0, in.data(), static_cast<int>(in.size()),
                      reinterpret_cast<wchar_t*>(&out[at]), len);
}

void AppendMulti(UINT codePage, std::u16string_view in, std::string& out) {
  if (in.empty()) return;
  const auto* src = reinterpret_cast<const wchar_t*>(in.data());
  const int n = static_cast<int>(in.size());
  // The default character of code page 936 is '?'; CP_UTF8 takes no default character.
  const int len = WideCharToMultiByte(codePage, 0, src, n, nullptr, 0, nullptr, nullptr);
  if (len <= 0) return;
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(len));
  WideCharToMultiByte(codePage, 0, src, n, &out[at], len, nullptr, nullptr);
}

// GBK to UTF-16 in runs of well-formed characters, each broken lead byte replaced by '?'.
std::u16string FromGbk(std::string_view in) {
  std::u16string out;
  std::size_t run = 0;
  std::size_t i = 0;
  while (i < in.size()) {
    if (i - run >= kChunk) {
      AppendWide(kGbk, in.substr(run, i - run), out);
      run = i;
    }
    const auto c = static_cast<unsigned char>(in[i]);
    if (c < 0x81 || c == 0xFF) {
      ++i;
      continue;
    }
    const auto trail = i + 1 < in.size() ? static_cast<unsigned char>(in[i + 1]) : 0;
    if (trail >= 0x40 && trail <= 0xFE && trail != 0x7F) {
      i += 2;
      continue;
    }
    AppendWide(kGbk, in.substr(run, i - run), out);
    out.push_back(u'?');
    run = ++i;
  }
  AppendWide(kGbk, in.substr(run), out);
  return out;
}

// UTF-16 to GBK; surrogates never reach Windows, as GBK holds nothing outside the basic plane.
std::string ToGbk(std::u16string_view in) {
  std::string out;
  std::size_t run = 0;
  std::size_t i = 0;
  while (i < in.size()) {
    if (i - run >= kChunk) {
      AppendMulti(kGbk, in.substr(run, i - run), out);
      run = i;
    }
    if (!IsSurrogate(in[i])) {
      ++i;
      continue;
    }
    AppendMulti(kGbk, in.substr(run, i - run), out);
    out.push_back('?');
    const bool pair =
        in[i] <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF;
    i += pair ? 2 : 1;
    run = i;
  }
  AppendMulti(kGbk, in.substr(run), out);
  return out;
}

// UTF-8 to UTF-16, in pieces cut before a lead byte; Windows replaces broken sequences by
// U+FFFD, which leaves the program as '?'.
std::u16string FromUtf8(std::string_view in) {
  std::u16string out;
  while (!in.empty()) {
    std::size_t n = in.size();
    if (n > kChunk) {
      n = kChunk;
      while (n > 1 && (static_cast<unsigned char>(in[n]) & 0xC0) == 0x80) --n;
    }
    AppendWide(CP_UTF8, in.substr(0, n), out);
    in.remove_prefix(n);
  }
  for (char16_t& c : out) {
    if (c == 0xFFFD) c = u'?';
  }
  return out;
}

// UTF-16 to UTF-8; the program's UTF-16 comes from GBK and holds no surrogates.
std::string ToUtf8(std::u16string_view in) {
  std::string out;
  while (!in.empty()) {
    std::size_t n = in.size() > kChunk ? kChunk : in.size();
    if (n < in.size() && in[n - 1] >= 0xD800 && in[n - 1] <= 0xDBFF) --n;
    AppendMulti(CP_UTF8, in.substr(0, n), out);
    in.remove_prefix(n);
  }
  return out;
}

}  // namespace

std::u16string GbkToUtf16(std::string_view gbk) {
  if (IsAscii(gbk)) return std::u16string(gbk.begin(), gbk.end());
  return FromGbk(gbk);
}

Text Utf16ToGbk(std::u16string_view utf16) {
  bool ascii = true;
  for (const char16_t c : utf16) {
    if (c >= 0x80) ascii = false;
  }
  if (ascii) return Text(utf16.begin(), utf16.end());
  return ToGbk(utf16);
}

Text Utf8ToGbk(std::string_view utf8) {
  if (IsAscii(utf8)) return Text(utf8);
  return ToGbk(FromUtf8(utf8));
}

std::string GbkToUtf8(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  return ToUtf8(FromGbk(gbk));
}

}  // namespace tw
