// Base64 (the standard alphabet with '=' padding) for binary data kept in the settings file,
// such as the protected password.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tw {

std::string Base64Encode(std::string_view bytes);
// Nullopt for anything Base64Encode would not have written: a character outside the alphabet
// (line breaks and blanks included), a length that is not a multiple of four, misplaced
// padding, or padding bits that are not zero.
std::optional<std::string> Base64Decode(std::string_view text);

}  // namespace tw
