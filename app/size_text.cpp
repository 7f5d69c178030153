// Size texts. Each rule is applied in turn and a later one that applies overwrites the text, so
// the highest unit reached stays; single-precision values compare with a tolerance of 1e-7.
#include "app/size_text.h"

#include "runtime/gbk.h"
#include "runtime/text.h"

namespace tw::size_text {
namespace {

constexpr double kTolerance = 0.0000001;

bool Below(float value, double limit) {
  return static_cast<double>(value) - limit < -kTolerance;
}

bool AtLeast(float value, double limit) {
  return !Below(value, limit);
}

Text Single(float v) {
  return ToText(Value::Float(v));
}

Text Double(double v) {
  return ToText(Value::Double(v));
}

Text Rounded(double v) {
  return Double(Round(v, 2));
}

}  // namespace

Text LocalListing(std::int64_t kilobytes) {
  // A file the listing cannot find is -1 byte, which must not show as a negative size.
  const auto number = [](const Text& t) { return ReplaceText(t, "-1", "0"); };
  Text text;
  if (kilobytes < 1024) text = number(ToText(Value::Int64(kilobytes))) + " KB";
  if (kilobytes >= 1024) text = number(Double(static_cast<double>(kilobytes) / 1000.0)) + " MB";
  if (kilobytes >= 1048576) {
    text = number(Double(static_cast<double>(kilobytes) / 1000000.0)) + " GB";
  }
  return text;
}

Text Local(float kilobytes) {
  Text text;
  if (Below(kilobytes, 1024)) text = Single(kilobytes) + " KB";
  if (AtLeast(kilobytes, 1024)) text = Double(static_cast<double>(kilobytes) / 1000.0) + " MB";
  if (AtLeast(kilobytes, 1048576)) {
    text = Double(static_cast<double>(kilobytes) / 1000000.0) + " GB";
  }
  return text;
}

Text Server(float megabytes) {
  const auto m = static_cast<double>(megabytes);
  Text text;
  if (Below(megabytes, 1.024)) text = Rounded(m * 1000.0) + " KB";
  if (AtLeast(megabytes, 1.024)) text = Rounded(m) + " MB";
  if (AtLeast(megabytes, 1048.576)) text = Rounded(m / 1000.0) + " GB";
  return text;
}

Text FreedServer(float megabytes) {
  const auto m = static_cast<double>(megabytes);
  Text text;
  if (Below(megabytes, 1.024)) text = Double(m * 1000.0) + " KB";
  if (AtLeast(megabytes, 1.024)) text = Single(megabytes) + " MB";
  // The server's freed amount reaches gigabytes only from 1024, not from 1048.576.
  if (AtLeast(megabytes, 1024)) text = Double(m / 1000.0) + " GB";
  return text;
}

Text Unavailable() {
  return Gbk("无法获取");
}

}  // namespace tw::size_text
