// Reads and writes of single settings keys, at the path rebuilt for each access.
#include "app/settings.h"

#include "runtime/base64.h"
#include "runtime/gbk.h"
#include "runtime/services.h"

namespace tw::settings {

Text Path() {
  return RunDirectory() + Gbk("/配置文件.ini");
}

Text Read(std::string_view section, std::string_view key) {
  return IniRead(Path(), Gbk(section), Gbk(key));
}

Text ReadGbkKey(std::string_view section, const Text& key) {
  return IniRead(Path(), Gbk(section), key);
}

bool Write(std::string_view section, std::string_view key, const Text& value) {
  return IniWrite(Path(), Gbk(section), Gbk(key), value);
}

bool WriteGbkKey(std::string_view section, const Text& key, const Text& value) {
  return IniWrite(Path(), Gbk(section), key, value);
}

bool Remove(std::string_view section, std::string_view key) {
  return IniWrite(Path(), Gbk(section), Gbk(key), std::nullopt);
}

Text ReadPassword() {
  const Text cipher = Read(k配置, k密码密文);
  if (!cipher.empty()) {
    if (const auto blob = Base64Decode(cipher)) {
      if (auto plain = UnprotectForUser(*blob)) return std::move(*plain);
    }
  }
  return Read(k配置, k密码);
}

void SavePassword(const Text& password) {
  if (const auto blob = ProtectForUser(password)) {
    // The plain key goes only once the protected one is written: a setting is never lost.
    if (Write(k配置, k密码密文, Base64Encode(*blob))) Remove(k配置, k密码);
    return;
  }
  Write(k配置, k密码, password);
  Remove(k配置, k密码密文);
}

}  // namespace tw::settings
