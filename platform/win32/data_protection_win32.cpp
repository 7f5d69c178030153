// Data protection on Win32: the system's data protection for the current user, never with a
// prompt, and with an entropy of this program's own, so that a blob another program made for
// this user does not unprotect here, nor ours there. The entropy must never change: blobs saved
// by earlier runs would no longer unprotect.
#include <windows.h>

#include <dpapi.h>

#include <optional>
#include <string>

#include "runtime/platform_services.h"

namespace tw::platform {
namespace {

constexpr char kEntropy[] = "Tidewell saved secrets 1";

DATA_BLOB BlobOf(std::string_view bytes) {
  // The functions only read their input blobs.
  return DATA_BLOB{static_cast<DWORD>(bytes.size()),
                   reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
}

// Takes the system's output blob: its bytes as a string, the blob itself freed (and wiped when
// it held a secret).
std::string Take(DATA_BLOB& out, bool secret) {
  std::string bytes(reinterpret_cast<const char*>(out.pbData), out.cbData);
  if (secret) SecureZeroMemory(out.pbData, out.cbData);
  ::LocalFree(out.pbData);
  return bytes;
}

}  // namespace

std::optional<std::string> ProtectData(std::string_view plain) {
  DATA_BLOB in = BlobOf(plain);
  DATA_BLOB entropy = BlobOf(std::string_view(kEntropy, sizeof kEntropy - 1));
  DATA_BLOB out{};
  if (!::CryptProtectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                          &out)) {
    return std::nullopt;
  }
  return Take(out, false);
}

std::optional<std::string> UnprotectData(std::string_view blob) {
  DATA_BLOB in = BlobOf(blob);
  DATA_BLOB entropy = BlobOf(std::string_view(kEntropy, sizeof kEntropy - 1));
  DATA_BLOB out{};
  if (!::CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                            &out)) {
    return std::nullopt;
  }
  return Take(out, true);
}

}  // namespace tw::platform
