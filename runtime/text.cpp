// Conversions between values and texts: ToText, ToInt, the numeric conversion used for column
// numbers and registry values, full-width to half-width, and rounding. None of them fails.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/datetime.h"
#include "runtime/gbk_text.h"
#include "runtime/leading_number.h"
#include "runtime/text.h"

namespace tw {
namespace {

// GBK bytes of the words ToText writes; kept as bytes so that no conversion runs per call.
constexpr std::string_view kTrue = "\xD5\xE6";   // 真
constexpr std::string_view kFalse = "\xBC\xD9";  // 假
constexpr std::string_view kYear = "\xC4\xEA";   // 年
constexpr std::string_view kMonth = "\xD4\xC2";  // 月
constexpr std::string_view kDay = "\xC8\xD5";    // 日
constexpr std::string_view kHour = "\xCA\xB1";   // 时
constexpr std::string_view kMin = "\xB7\xD6";    // 分
constexpr std::string_view kSec = "\xC3\xEB";    // 秒

double PowerOfTen(int n) {
  return std::pow(10.0, n);
}

// Rounds to six significant digits, halves away from zero, as floats are shown.
double RoundToSixDigits(double x) {
  if (x == 0.0 || !std::isfinite(x)) return x;
  const double a = std::fabs(x);
  int exponent = static_cast<int>(std::floor(std::log10(a)));
  // log10 can land one off next to a power of ten; the scaled value tells.
  auto scaled = [&](int e) {
    const int k = 5 - e;
    return k >= 0 ? a * PowerOfTen(k) : a / PowerOfTen(-k);
  };
  double y = scaled(exponent);
  if (y >= 1e6) {
    y = scaled(++exponent);
  } else if (y < 1e5) {
    y = scaled(--exponent);
  }
  double i = std::floor(y);
  if (y - i >= 0.5) i += 1.0;
  const int k = 5 - exponent;
  const double r = k >= 0 ? i / PowerOfTen(k) : i * PowerOfTen(-k);
  return x < 0 ? -r : r;
}

// "%.*g" with the exponent written with at least three digits on every C library.
std::string GeneralNumber(double x, int precision) {
  if (std::isnan(x)) return "nan";
  if (std::isinf(x)) return x < 0 ? "-inf" : "inf";
  if (x == 0.0) return "0";  // also negative zero: "-0" means nothing to a reader
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*g", precision, x);
  std::string s = buffer;
  const std::size_t e = s.find('e');
  if (e == std::string::npos || e + 2 > s.size()) return s;
  const std::size_t digits = s.size() - (e + 2);
  if (digits < 3) s.insert(e + 2, 3 - digits, '0');
  return s;
}

std::string DateTimeText(double d) {
  d = ClampDate(d);
  const int hour = HourOf(d);
  const int minute = MinuteOf(d);
  const int second = SecondOf(d);
  std::string out = std::to_string(YearOf(d));
  out.append(kYear).append(std::to_string(MonthOf(d))).append(kMonth);
  out.append(std::to_string(DayOf(d))).append(kDay);
  if (second != 0) {
    out.append(std::to_string(hour)).append(kHour).append(std::to_string(minute)).append(kMin);
    out.append(std::to_string(second)).append(kSec);
  } else if (minute != 0) {
    out.append(std::to_string(hour)).append(kHour).append(std::to_string(minute)).append(kMin);
  } else if (hour != 0) {
    out.append(std::to_string(hour)).append(kHour);
  }
  return out;
}

std::int32_t Saturate(std::int64_t v) {
  if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

// Truncation toward zero that stays defined for every double: NaN reads as 0 and values
// beyond the 32-bit range saturate.
std::int32_t Truncate(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (x <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(x);
}

}  // namespace

int TextLength(std::string_view t) {
  return t.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())
             ? std::numeric_limits<int>::max()
             : static_cast<int>(t.size());
}

int TextCompare(std::string_view a, std::string_view b) {
  // string_view compares as unsigned char, without locale.
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

Text ToText(const Value& v) {
  switch (v.kind()) {
    case ValueKind::Byte:
    case ValueKind::Short:
    case ValueKind::Int:
    case ValueKind::Int64:
      return std::to_string(v.Integer());
    case ValueKind::Float:
      return GeneralNumber(RoundToSixDigits(v.Real()), 6);
    case ValueKind::Double:
      return GeneralNumber(v.Real(), 13);
    case ValueKind::Bool:
      return Text(v.Integer() != 0 ? kTrue : kFalse);
    case ValueKind::DateTime:
      return DateTimeText(v.Real());
    case ValueKind::Text:
      return v.AsText();
    case ValueKind::Bytes: {
      const Bytes& b = v.AsBytes();
      const void* zero = b.empty() ? nullptr : std::memchr(b.data(), 0, b.size());
      const std::size_t n =
          zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - b.data())
               : b.size();
      return Text(reinterpret_cast<const char*>(b.data()), n);
    }
    default:
      return Text();
  }
}

std::int32_t ToInt(const Value& v) {
  switch (v.kind()) {
    case ValueKind::Bool:
    case ValueKind::Byte:
    case ValueKind::Short:
    case ValueKind::Int:
    case ValueKind::Int64:
      return Saturate(v.Integer());
    case ValueKind::SubPtr:
      // An address, not a quantity: its low half identifies it as well as any number could.
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(v.Integer() & 0xFFFFFFFF));
    case ValueKind::Float:
    case ValueKind::Double:
      return Truncate(v.Real());
    case ValueKind::Text:
      // The value commands' blanks, tab to carriage return among them, and their 32-bit range.
      return LeadingWhole32(std::string_view(FullToHalfWidth(v.AsText())),
                            Blanks::SpaceAndTabToReturn);
    default:
      return 0;
  }
}

std::optional<std::int32_t> NumericToInt(const Value& v) {
  if (!v.IsNumeric()) return std::nullopt;
  return ToInt(v);
}

Text FullToHalfWidth(std::string_view t) {
  Text out;
  out.reserve(t.size());
  // 0x80 leads, as in the other value commands, so that they all see the same characters.
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (gbk::CharLength(t, i, gbk::LeadBytes::From0x80) == 1) {
      out.push_back(t[i]);
      continue;
    }
    const auto lead = static_cast<unsigned char>(t[i]);
    const auto trail = static_cast<unsigned char>(t[++i]);
    if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
      out.push_back(static_cast<char>(trail - 0x80));
    } else if (lead == 0xA1 && trail == 0xA1) {
      out.push_back(' ');
    } else if (lead == 0xA1 && trail == 0xAB) {
      out.push_back('~');
    } else if (lead == 0xA1 && (trail == 0xEE || trail == 0xEF)) {
      out.push_back('*');
    } else {
      out.push_back(static_cast<char>(lead));
      out.push_back(static_cast<char>(trail));
    }
  }
  return out;
}

double Round(double x, int places) {
  if (x == 0.0 || !std::isfinite(x)) return x;
  // Beyond 400 places either way the answer no longer changes, and negating stays defined.
  places = places < -400 ? -400 : (places > 400 ? 400 : places);
  const double a = std::fabs(x);
  const double scale = PowerOfTen(places < 0 ? -places : places);
  double y = a;
  if (places > 0) {
    y = a * scale;
    // More places than a double holds: the value is already as exact as it can be.
    if (!std::isfinite(y)) return x;
  } else if (places < 0) {
    y = a / scale;
  }
  double i = 0.0;
  const double f = std::modf(y + 1e-12, &i);
  if (f >= 0.5) i += 1.0;
  double r = i;
  if (places > 0) {
    r = i / scale;
  } else if (places < 0) {
    r = i == 0.0 ? 0.0 : i * scale;
  }
  return x < 0 ? -r : r;
}

}  // namespace tw
