// Fuzzes the text commands with arbitrary bytes (broken double-byte characters included) and
// checks what must hold for any input: results within bounds, replacing a text by itself
// changes nothing, trimming and lowering keep the text's shape. The GBK converter and the
// numeric conversions get the same bytes.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "runtime/datetime.h"
#include "runtime/gbk.h"
#include "runtime/text.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// The input: three option bytes (start and count are stored plus 128), then text, sought text and
// replacement separated by zero bytes.
struct Input {
  std::uint8_t flags = 0;
  int start = 0;
  int count = 0;
  std::string_view text, sought, replacement;
};

Input Split(const std::uint8_t* data, std::size_t size) {
  Input in;
  if (size >= 3) {
    in.flags = data[0];
    in.start = data[1] - 128;
    in.count = data[2] - 128;
    data += 3;
    size -= 3;
  }
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::size_t a = rest.find('\0');
  in.text = rest.substr(0, a);
  if (a == std::string_view::npos) return in;
  rest.remove_prefix(a + 1);
  const std::size_t b = rest.find('\0');
  in.sought = rest.substr(0, b);
  if (b != std::string_view::npos) in.replacement = rest.substr(b + 1);
  return in;
}

void FuzzTexts(const Input& in) {
  using namespace tw;
  const std::optional<int> start = (in.flags & 1) ? std::optional<int>(in.start) : std::nullopt;
  const std::optional<int> count = (in.flags & 2) ? std::optional<int>(in.count) : std::nullopt;
  const bool loose = (in.flags & 4) != 0;

  const int found = FindText(in.text, in.sought, start, loose);
  Check(found == -1 || (found >= 1 && static_cast<std::size_t>(found) <= in.text.size()));
  if (found >= 1 && !loose && !in.sought.empty()) {
    Check(in.text.substr(static_cast<std::size_t>(found) - 1, in.sought.size()) == in.sought);
  }

  Check(ReplaceText(in.text, in.sought, in.sought, start, count, true) == in.text);
  const Text replaced = ReplaceText(in.text, in.sought, in.replacement, start, count, !loose);
  if (in.sought.empty() || (count && *count == 0)) Check(replaced == in.text);

  const Text trimmed = TrimText(in.text);
  Check(in.text.find(trimmed) != std::string_view::npos && TrimText(trimmed) == trimmed);
  const Text lower = ToLower(in.text);
  Check(lower.size() == in.text.size() && ToLower(lower) == lower);
  Check(FullToHalfWidth(in.text).size() <= in.text.size());

  ToInt(Value::Str(Text(in.text)));
  ToText(Value::Blob(Bytes(in.text.begin(), in.text.end())));
}

void FuzzNumbers(const std::uint8_t* data, std::size_t size) {
  using namespace tw;
  if (size < 8) return;
  double d = 0;
  std::memcpy(&d, data, sizeof d);
  ToText(Value::Double(d));
  ToText(Value::Float(static_cast<float>(d)));
  ToInt(Value::Double(d));
  Round(d, size > 8 ? data[8] - 128 : 0);
  const int month = MonthOf(d), day = DayOf(d), weekday = WeekdayOf(d);
  Check(month >= 1 && month <= 12 && day >= 1 && day <= 31 && weekday >= 1 && weekday <= 7);
  Check(HourOf(d) < 24 && MinuteOf(d) < 60 && SecondOf(d) < 60);
  ToText(Value::DateTime(d));
}

void FuzzConverter(const std::uint8_t* data, std::size_t size) {
  using namespace tw;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string wide = GbkToUtf16(bytes);
  Utf16ToGbk(wide);
  Utf8ToGbk(bytes);
  GbkToUtf8(bytes);
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  Utf16ToGbk(units);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzTexts(Split(data, size));
  FuzzNumbers(data, size);
  FuzzConverter(data, size);
  return 0;
}
