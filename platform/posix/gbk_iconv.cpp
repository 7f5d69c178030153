// The GBK converter on POSIX systems, built on iconv. glibc's "GBK" table is the Windows code
// page 936 one for every character the tool meets (0x80 is the euro sign there too). Bytes
// that do not convert never stop a conversion: each bad or unmappable character becomes one
// '?' and the rest of the input still converts.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <iconv.h>

#include "runtime/gbk.h"

namespace tw {
namespace {

// How many input bytes a character that iconv refused occupies, so that exactly that
// character is replaced and the next one converts normally.
enum class Source { Gbk, Utf8, Utf16 };

std::size_t BadCharLength(Source source, const unsigned char* p, std::size_t left) {
  switch (source) {
    case Source::Gbk:
      // A lead byte with a well-formed trail byte is one (unknown) character; otherwise
      // only the offending byte goes, so that ASCII after it survives.
      if (left >= 2 && p[0] >= 0x81 && p[0] <= 0xFE && p[1] >= 0x40 && p[1] <= 0xFE &&
          p[1] != 0x7F) {
        return 2;
      }
      return 1;
    case Source::Utf8: {
      std::size_t n = 1;
      if (p[0] >= 0xF0 && p[0] <= 0xF4) {
        n = 4;
      } else if (p[0] >= 0xE0 && p[0] <= 0xEF) {
        n = 3;
      } else if (p[0] >= 0xC2 && p[0] <= 0xDF) {
        n = 2;
      }
      // A whole sequence that was valid but unmappable goes as one character, and so does
      // the started part of a broken one (one '?' for "\xE4\xB8", as Windows does).
      std::size_t k = 1;
      while (k < n && k < left && (p[k] & 0xC0) == 0x80) ++k;
      return k;
    }
    case Source::Utf16:
      if (left < 2) return left;
      if (left >= 4) {
        const unsigned hi = p[0] | (p[1] << 8);
        const unsigned lo = p[2] | (p[3] << 8);
        if (hi >= 0xD800 && hi <= 0xDBFF && lo >= 0xDC00 && lo <= 0xDFFF) return 4;
      }
      return 2;
  }
  return 1;
}

// One conversion direction; the descriptor is opened on first use and kept per thread,
// because an iconv descriptor carries state and must not be shared between threads.
class Direction {
 public:
  Direction(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Direction() {
    if (Ok()) iconv_close(cd_);
  }
  Direction(const Direction&) = delete;
  Direction& operator=(const Direction&) = delete;

  // iconv_open reports failure as the pointer value -1.
  bool Ok() const {
    return cd_ != reinterpret_cast<iconv_t>(-1);  // NOLINT(performance-no-int-to-ptr)
  }

  // Converts `in`, appending the raw output bytes to `out`; `replacement` stands for every
  // character that cannot be converted.
  void Run(Source source, std::string_view in, std::string_view replacement, std::string& out) {
    if (!Ok()) {
      out.append(in.size(), '?');
      return;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char buffer[1024];
    while (srcLeft > 0) {
      char* dst = buffer;
      std::size_t dstLeft = sizeof buffer;
      const std::size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      const int err = errno;
      out.append(buffer, static_cast<std::size_t>(dst - buffer));
      if (rc != static_cast<std::size_t>(-1)) continue;
      if (err == E2BIG) continue;
      // EILSEQ (bad or unmappable character) or EINVAL (cut off at the end).
      const std::size_t skip =
          BadCharLength(source, reinterpret_cast<const unsigned char*>(src), srcLeft);
      src += skip;
      srcLeft -= skip;
      out.append(replacement);
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
  }

 private:
  iconv_t cd_;
};

Direction& GbkToUtf16Dir() {
  thread_local Direction d("UTF-16LE", "GBK");
  return d;
}
Direction& Utf16ToGbkDir() {
  thread_local Direction d("GBK", "UTF-16LE");
  return d;
}
Direction& GbkToUtf8Dir() {
  thread_local Direction d("UTF-8", "GBK");
  return d;
}
Direction& Utf8ToGbkDir() {
  thread_local Direction d("GBK", "UTF-8");
  return d;
}

bool IsAscii(std::string_view s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::u16string GbkToUtf16(std::string_view gbk) {
  std::u16string result;
  if (IsAscii(gbk)) {
    result.assign(gbk.begin(), gbk.end());
    return result;
  }
  std::string bytes;
  GbkToUtf16Dir().Run(Source::Gbk, gbk, std::string_view("?\0", 2), bytes);
  result.resize(bytes.size() / 2);
  for (std::size_t i = 0; i < result.size(); ++i) {
    result[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                      (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return result;
}

Text Utf16ToGbk(std::u16string_view utf16) {
  std::string bytes;
  bytes.reserve(utf16.size() * 2);
  bool ascii = true;
  for (const char16_t c : utf16) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
    if (c >= 0x80) ascii = false;
  }
  if (ascii) return Text(utf16.begin(), utf16.end());
  Text out;
  Utf16ToGbkDir().Run(Source::Utf16, bytes, "?", out);
  return out;
}

Text Utf8ToGbk(std::string_view utf8) {
  if (IsAscii(utf8)) return Text(utf8);
  Text out;
  Utf8ToGbkDir().Run(Source::Utf8, utf8, "?", out);
  return out;
}

std::string GbkToUtf8(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  std::string out;
  GbkToUtf8Dir().Run(Source::Gbk, gbk, "?", out);
  return out;
}

}  // namespace tw
