// Out-of-line parts of Value: the shared empty text and byte-set handed out for other kinds.
#include "runtime/value.h"

namespace tw {

const Text& Value::AsText() const {
  static const Text kEmpty;
  const auto* p = std::get_if<Text>(&data_);
  return p ? *p : kEmpty;
}

const Bytes& Value::AsBytes() const {
  static const Bytes kEmpty;
  const auto* p = std::get_if<Bytes>(&data_);
  return p ? *p : kEmpty;
}

}  // namespace tw
