// Base64 codec: strict on decoding, so that a value damaged by hand reads as no value at all
// rather than as other bytes.
#include "runtime/base64.h"

#include <cstdint>

namespace tw {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    std::uint32_t group = 0;
    for (std::size_t j = 0; j < 3; ++j) {
      group = (group << 8) | (j < n ? static_cast<unsigned char>(bytes[i + j]) : 0u);
    }
    for (std::size_t j = 0; j < 4; ++j) {
      out += j <= n ? kAlphabet[(group >> (18 - 6 * j)) & 0x3F] : '=';
    }
  }
  return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    std::size_t padding = 0;
    if (last && text[i + 3] == '=') padding = text[i + 2] == '=' ? 2 : 1;
    std::uint32_t group = 0;
    for (std::size_t j = 0; j < 4 - padding; ++j) {
      const int v = Sextet(text[i + j]);
      if (v < 0) return std::nullopt;
      group = (group << 6) | static_cast<std::uint32_t>(v);
    }
    group <<= 6 * padding;
    // The bits below the last whole byte must be zero, or two texts would decode alike.
    if ((group & ((1u << (8 * padding)) - 1)) != 0) return std::nullopt;
    for (std::size_t j = 0; j < 3 - padding; ++j) {
      out += static_cast<char>((group >> (16 - 8 * j)) & 0xFF);
    }
  }
  return out;
}

}  // namespace tw
