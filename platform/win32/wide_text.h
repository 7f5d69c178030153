// GBK texts at the Win32 edge: the program's GBK as the wide strings the W APIs take, and back.
// mingw-w64's wchar_t is a UTF-16 code unit, so these are the converter in runtime/gbk.h with
// the string type changed.
#pragma once

#include <string>
#include <string_view>

#include "runtime/gbk.h"

namespace tw {

inline std::wstring Wide(std::string_view gbk) {
  const std::u16string u = GbkToUtf16(gbk);
  return std::wstring(u.begin(), u.end());
}

inline Text Narrow(std::wstring_view utf16) {
  return Utf16ToGbk(std::u16string(utf16.begin(), utf16.end()));
}

}  // namespace tw
