// Reads and writes of single settings keys, at the path rebuilt for each access.
#include "app/settings.h"

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

}  // namespace tw::settings
