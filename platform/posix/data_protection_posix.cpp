// Data protection on POSIX: AES-256-GCM with a key that only this user can read, kept in
// data-protection.key in the program's configuration folder (posix::UserConfigFolder) and made on
// first use. The folder and the key are opened without following symbolic links and must belong
// to this user; the key is created beside its final name and linked into place, so a reader sees
// either no key or the whole key, and two programs creating it at once end up with one key.
// A key that others could read or replace is not used: protection then fails and the caller
// keeps the secret as it did before it had protection.
//
// Blob: version byte 1, 12-byte nonce, ciphertext, 16-byte tag; the version byte and the
// program's label are authenticated with it.
#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>
#include <optional>
#include <string>

#include "platform/posix/posix_files.h"
#include "runtime/platform_services.h"

namespace tw::platform {
namespace {

constexpr const char* kKeyName = "data-protection.key";
constexpr std::size_t kKeyBytes = 32;
constexpr std::size_t kNonceBytes = 12;
constexpr std::size_t kTagBytes = 16;
constexpr char kVersion = 1;
constexpr std::string_view kLabel = "Tidewell saved secrets";

// The key's bytes, wiped when they go.
struct Key {
  std::array<unsigned char, kKeyBytes> bytes{};
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Owned by this user and writable by nobody else: what lies in it cannot be swapped under us.
bool Private(const struct stat& st) {
  return st.st_uid == ::geteuid() && (st.st_mode & 022) == 0;
}

enum class KeyRead { Ok, Missing, Unusable };

// Unusable: not a regular file of ours of the right length, or readable by others.
KeyRead ReadKey(int dir, Key& key) {
  const Fd fd(::openat(dir, kKeyName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return errno == ENOENT ? KeyRead::Missing : KeyRead::Unusable;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
      (st.st_mode & 077) != 0 || st.st_size != static_cast<off_t>(kKeyBytes)) {
    return KeyRead::Unusable;
  }
  std::size_t got = 0;
  while (got < kKeyBytes) {
    const ssize_t n = ::read(fd.get(), key.bytes.data() + got, kKeyBytes - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return KeyRead::Unusable;
    got += static_cast<std::size_t>(n);
  }
  return KeyRead::Ok;
}

// Writes a new key under a name of its own and links it to the key's name, which fails when
// another program made the key meanwhile: then that key is the one read.
bool CreateKey(int dir, Key& key) {
  if (RAND_bytes(key.bytes.data(), static_cast<int>(kKeyBytes)) != 1) return false;
  std::array<unsigned char, 8> tag{};
  if (RAND_bytes(tag.data(), static_cast<int>(tag.size())) != 1) return false;
  std::string temp = ".data-protection.";
  for (const unsigned char b : tag) temp += "0123456789abcdef"[b & 15];
  bool linked = false;
  bool taken = false;  // another program linked its key first
  {
    const Fd fd(
        ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) return false;
    const bool written =
        ::fchmod(fd.get(), 0600) == 0 &&
        ::write(fd.get(), key.bytes.data(), kKeyBytes) == static_cast<ssize_t>(kKeyBytes) &&
        ::fsync(fd.get()) == 0;
    linked = written && ::linkat(dir, temp.c_str(), dir, kKeyName, 0) == 0;
    taken = written && !linked && errno == EEXIST;
  }
  ::unlinkat(dir, temp.c_str(), 0);
  if (linked) {
    ::fsync(dir);
    return true;
  }
  return taken && ReadKey(dir, key) == KeyRead::Ok;
}

// The key, made first when `create` and there is none yet.
bool LoadKey(bool create, Key& key) {
  const std::string folder = posix::UserConfigFolder();
  if (folder.empty()) return false;
  if (create && !posix::MakeDirectories(folder, 0700)) return false;
  const Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (dir.get() < 0 || ::fstat(dir.get(), &st) != 0 || !Private(st)) return false;
  switch (ReadKey(dir.get(), key)) {
    case KeyRead::Ok:
      return true;
    case KeyRead::Missing:
      return create && CreateKey(dir.get(), key);
    case KeyRead::Unusable:
      break;
  }
  return false;
}

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

std::string AssociatedData() {
  return std::string(1, kVersion) + std::string(kLabel);
}

const unsigned char* Bytes(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

}  // namespace

std::optional<std::string> ProtectData(std::string_view plain) {
  Key key;
  if (!LoadKey(true, key)) return std::nullopt;
  std::string blob(1 + kNonceBytes + plain.size() + kTagBytes, '\0');
  auto* out = reinterpret_cast<unsigned char*>(blob.data());
  out[0] = kVersion;
  unsigned char* nonce = out + 1;
  unsigned char* body = nonce + kNonceBytes;
  if (RAND_bytes(nonce, static_cast<int>(kNonceBytes)) != 1) return std::nullopt;
  const CipherContext ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
  const std::string aad = AssociatedData();
  int n = 0;
  int tail = 0;
  if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(kNonceBytes),
                          nullptr) != 1 ||
      EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key.bytes.data(), nonce) != 1 ||
      EVP_EncryptUpdate(ctx.get(), nullptr, &n, Bytes(aad), static_cast<int>(aad.size())) != 1 ||
      EVP_EncryptUpdate(ctx.get(), body, &n, Bytes(plain), static_cast<int>(plain.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), body + n, &tail) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kTagBytes),
                          body + plain.size()) != 1) {
    return std::nullopt;
  }
  return blob;
}

std::optional<std::string> UnprotectData(std::string_view blob) {
  if (blob.size() < 1 + kNonceBytes + kTagBytes || blob[0] != kVersion) return std::nullopt;
  Key key;
  if (!LoadKey(false, key)) return std::nullopt;
  const std::size_t length = blob.size() - 1 - kNonceBytes - kTagBytes;
  const std::string_view nonce = blob.substr(1, kNonceBytes);
  const std::string_view body = blob.substr(1 + kNonceBytes, length);
  std::string tag(blob.substr(1 + kNonceBytes + length));
  std::string plain(length, '\0');
  auto* out = reinterpret_cast<unsigned char*>(plain.data());
  const CipherContext ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
  const std::string aad = AssociatedData();
  int n = 0;
  int tail = 0;
  const bool ok =
      ctx && EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(kNonceBytes),
                          nullptr) == 1 &&
      EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, key.bytes.data(), Bytes(nonce)) == 1 &&
      EVP_DecryptUpdate(ctx.get(), nullptr, &n, Bytes(aad), static_cast<int>(aad.size())) == 1 &&
      EVP_DecryptUpdate(ctx.get(), out, &n, Bytes(body), static_cast<int>(body.size())) == 1 &&
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTagBytes),
                          tag.data()) == 1 &&
      EVP_DecryptFinal_ex(ctx.get(), out + n, &tail) == 1;
  if (!ok) {
    OPENSSL_cleanse(plain.data(), plain.size());
    return std::nullopt;
  }
  return plain;
}

}  // namespace tw::platform
