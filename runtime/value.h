// Typed values: every command argument and result, property value and event argument is one.
// Texts are GBK byte strings held by value (RAII), so whoever receives one owns it; an empty
// string is the empty (absent) text.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tw {

enum class ValueKind : std::uint32_t {
  Absent = 0,  // an optional argument that was not given
  Byte = 0x80000101,
  Short = 0x80000201,
  Int = 0x80000301,
  Int64 = 0x80000401,
  Float = 0x80000501,
  Double = 0x80000601,
  Bool = 0x80000002,
  DateTime = 0x80000003,
  Text = 0x80000004,
  Bytes = 0x80000005,
  SubPtr = 0x80000006,
  // A window or unit handed to a command: the (window, unit) pair.
  Unit = 0x80000010,
};

// Marks an array of the kind in a type code; nothing in the tool passes arrays.
inline constexpr std::uint32_t kArrayFlag = 0x20000000;

using Text = std::string;  // GBK bytes, no terminator inside
using Bytes = std::vector<std::uint8_t>;

struct UnitRef {
  int window = 0;
  int unit = 0;
  friend bool operator==(UnitRef, UnitRef) = default;
};

class Value {
 public:
  Value() = default;

  static Value Byte(std::uint8_t v) { return Value(ValueKind::Byte, std::int64_t{v}); }
  static Value Short(std::int16_t v) { return Value(ValueKind::Short, std::int64_t{v}); }
  static Value Int(std::int32_t v) { return Value(ValueKind::Int, std::int64_t{v}); }
  static Value Int64(std::int64_t v) { return Value(ValueKind::Int64, v); }
  static Value Float(float v) { return Value(ValueKind::Float, double{v}); }
  static Value Double(double v) { return Value(ValueKind::Double, v); }
  static Value Bool(bool v) { return Value(ValueKind::Bool, std::int64_t{v ? 1 : 0}); }
  static Value DateTime(double days) { return Value(ValueKind::DateTime, days); }
  static Value Str(Text t) { return Value(ValueKind::Text, std::move(t)); }
  static Value Blob(Bytes b) { return Value(ValueKind::Bytes, std::move(b)); }
  static Value SubPtr(std::int64_t address) { return Value(ValueKind::SubPtr, address); }
  static Value Unit(UnitRef u) { return Value(ValueKind::Unit, u); }

  ValueKind kind() const { return kind_; }
  bool IsAbsent() const { return kind_ == ValueKind::Absent; }
  bool IsText() const { return kind_ == ValueKind::Text; }
  bool IsBytes() const { return kind_ == ValueKind::Bytes; }
  bool IsUnit() const { return kind_ == ValueKind::Unit; }
  // The six kinds whose type code ends in 0x01.
  bool IsNumeric() const { return (static_cast<std::uint32_t>(kind_) & 0xFF) == 0x01; }
  bool IsIntegral() const {
    return kind_ == ValueKind::Byte || kind_ == ValueKind::Short || kind_ == ValueKind::Int ||
           kind_ == ValueKind::Int64;
  }

  // Payload of byte, short, int, int64, bool and subroutine pointer; 0 for other kinds.
  std::int64_t Integer() const {
    const auto* p = std::get_if<std::int64_t>(&data_);
    return p ? *p : 0;
  }
  // Payload of float, double and date-time; 0 for other kinds.
  double Real() const {
    const auto* p = std::get_if<double>(&data_);
    return p ? *p : 0.0;
  }
  bool AsBool() const { return kind_ == ValueKind::Bool && Integer() != 0; }
  // The text of a text value; the empty text for any other kind.
  const Text& AsText() const;
  const Bytes& AsBytes() const;
  UnitRef AsUnit() const {
    const auto* p = std::get_if<UnitRef>(&data_);
    return p ? *p : UnitRef{};
  }

  friend bool operator==(const Value&, const Value&) = default;

 private:
  using Data = std::variant<std::monostate, std::int64_t, double, Text, Bytes, UnitRef>;
  template <typename T>
  Value(ValueKind k, T&& v) : kind_(k), data_(std::forward<T>(v)) {}

  ValueKind kind_ = ValueKind::Absent;
  Data data_;
};

// Whether a value counts as true where the program asks yes or no of it: a bool as itself, a
// number when it is not 0; every other kind, the absent value included, is false.
inline bool IsTrue(const Value& v) {
  if (v.kind() == ValueKind::Bool) return v.AsBool();
  if (v.IsIntegral()) return v.Integer() != 0;
  if (v.IsNumeric()) return v.Real() != 0.0;
  return false;
}

}  // namespace tw
