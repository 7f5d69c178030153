// The one converter between the program's GBK texts and the encodings at its edges: UTF-16 for
// the window system and ODBC's wide calls, UTF-8 for source literals and logs. Implemented per
// platform (iconv on POSIX, code page 936 on Win32); bytes GBK cannot hold become '?'.
#pragma once

#include <string>
#include <string_view>

#include "runtime/value.h"

namespace tw {

std::u16string GbkToUtf16(std::string_view gbk);
Text Utf16ToGbk(std::u16string_view utf16);
Text Utf8ToGbk(std::string_view utf8);
std::string GbkToUtf8(std::string_view gbk);

// A source literal (UTF-8) as a GBK text: Gbk("运行时出错!").
inline Text Gbk(std::string_view utf8) {
  return Utf8ToGbk(utf8);
}

}  // namespace tw
