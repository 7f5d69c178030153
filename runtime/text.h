// Text operations and value commands: conversions, rounding, searching and replacing in GBK
// texts (the date-time commands are in runtime/datetime.h). None of them fails: odd kinds give ""
// or 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "runtime/value.h"

namespace tw {

// Length in bytes.
int TextLength(std::string_view t);
// Byte-wise, unsigned, case-sensitive; negative, 0 or positive.
int TextCompare(std::string_view a, std::string_view b);
template <typename... Parts>
Text TextConcat(const Parts&... parts) {
  Text out;
  (out.append(parts), ...);
  return out;
}

Text ToText(const Value& v);
// Texts are read as decimal after full-width to half-width conversion. Beyond 32 bits the
// result saturates at INT32_MIN / INT32_MAX.
std::int32_t ToInt(const Value& v);
// The numeric conversion used for column numbers and registry values: integral kinds as ToInt,
// float and double truncated toward zero; nullopt when the value is not numeric.
std::optional<std::int32_t> NumericToInt(const Value& v);
// Full-width ASCII block, ideographic space and a few symbols to their single-byte forms.
Text FullToHalfWidth(std::string_view t);

double Round(double x, int places = 0);
// 1-based byte position of `sought`, or -1.
int FindText(std::string_view text, std::string_view sought, std::optional<int> start = {},
             bool caseInsensitive = false);
Text ToLower(std::string_view t);
Text TrimText(std::string_view t);
// count: nullopt or negative = all. caseSensitive false compares ASCII letters loosely.
Text ReplaceText(std::string_view text, std::string_view sought, std::string_view replacement = {},
                 std::optional<int> start = {}, std::optional<int> count = {},
                 bool caseSensitive = false);

}  // namespace tw
