// The registry on POSIX: a small store in one file that behaves like the Windows registry for
// what the program does with it (keys created with their parents, values of three kinds,
// names compared without regard to case, a key with subkeys cannot be deleted). Location:
// $TW_REGISTRY_FILE, else tidewell/registry under $XDG_CONFIG_HOME or ~/.config. Every change
// is read-modify-replace under an exclusive lock, so concurrent programs do not lose updates;
// a file that does not begin with the header below is neither read nor rewritten.
//
// File format, one record per line, names and data in hex so that any byte survives:
//   tidewell-registry 1
//   K <root> <path>
//   V <root> <path> <name> <kind> <data>
// where an empty hex field is written as "-".
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <sstream>

#include "platform/posix/posix_files.h"
#include "runtime/gbk_text.h"
#include "runtime/ini.h"
#include "runtime/platform_services.h"

namespace tw::platform {
namespace {

constexpr std::string_view kMagic = "tidewell-registry 1";

struct StoredValue {
  std::string name;
  RegKind kind = RegKind::Sz;
  std::string bytes;
};
struct StoredKey {
  int root = 0;
  std::string path;
  std::vector<StoredValue> values;
};
using Store = std::vector<StoredKey>;

std::string StorePath() {
  if (const char* env = std::getenv("TW_REGISTRY_FILE"); env && *env) return env;
  const std::string folder = posix::UserConfigFolder();
  return folder.empty() ? folder : folder + "/registry";
}

std::string Hex(std::string_view bytes) {
  if (bytes.empty()) return "-";
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::optional<std::string> Unhex(std::string_view hex) {
  if (hex == "-") return std::string();
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    int v = 0;
    for (std::size_t j = i; j < i + 2; ++j) {
      const char c = hex[j];
      const int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
      if (d < 0) return std::nullopt;
      v = v * 16 + d;
    }
    out += static_cast<char>(v);
  }
  return out;
}

bool SamePath(std::string_view a, std::string_view b) {
  return ini::NamesEqual(a, b);
}

// The key path's parts; nullopt when a part is empty ("a\\\\b", "\\a"), as the registry
// refuses such paths.
std::optional<std::vector<std::string>> Parts(std::string_view path) {
  std::vector<std::string> parts;
  if (path.empty()) return parts;
  std::string part;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '\\') {
      if (part.empty()) return std::nullopt;
      parts.push_back(std::move(part));
      part.clear();
      continue;
    }
    // A key name steps as the value commands do: a trail byte is never taken for a backslash.
    const std::size_t n = gbk::CharLength(path, i, gbk::LeadBytes::From0x80);
    part.append(path, i, n);
    i += n - 1;
  }
  if (part.empty()) return std::nullopt;
  parts.push_back(std::move(part));
  return parts;
}

// The store in the file's text; an empty text is an empty store. Nullopt when the first line is
// not the header of this format (another version, another program's file, damage): such a
// file is never rewritten, as that would replace whatever it holds.
std::optional<Store> Parse(const std::string& text) {
  Store store;
  if (text.empty()) return store;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kMagic) return std::nullopt;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string tag, path, name;
    int root = 0;
    unsigned kind = 0;
    f >> tag >> root >> path;
    const auto p = Unhex(path);
    if (!f || !p) continue;
    if (tag == "K") {
      store.push_back({root, *p, {}});
    } else if (std::string data; tag == "V" && f >> name >> kind >> data && !store.empty()) {
      const auto n = Unhex(name);
      const auto d = Unhex(data);
      StoredKey& k = store.back();
      if (n && d && k.root == root && k.path == *p) {
        k.values.push_back({*n, static_cast<RegKind>(kind), *d});
      }
    }
  }
  return store;
}

std::string Serialize(const Store& store) {
  std::string out(kMagic);
  out += '\n';
  for (const StoredKey& k : store) {
    out += "K " + std::to_string(k.root) + ' ' + Hex(k.path) + '\n';
    for (const StoredValue& v : k.values) {
      out += "V " + std::to_string(k.root) + ' ' + Hex(k.path) + ' ' + Hex(v.name) + ' ' +
             std::to_string(static_cast<unsigned>(v.kind)) + ' ' + Hex(v.bytes) + '\n';
    }
  }
  return out;
}

StoredKey* FindKey(Store& store, int root, std::string_view path) {
  for (StoredKey& k : store) {
    if (k.root == root && SamePath(k.path, path)) return &k;
  }
  return nullptr;
}

std::vector<StoredValue>::iterator FindValue(StoredKey& key, std::string_view name) {
  auto it = key.values.begin();
  while (it != key.values.end() && !SamePath(it->name, name)) ++it;
  return it;
}

// One locked read-modify-write of the store. `change` returns whether it modified the store
// and sets `result`; the store is written back only when it did.
template <typename Change>
bool Modify(Change change) {
  const std::string path = StorePath();
  if (path.empty()) return false;
  const auto slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 &&
      !posix::MakeDirectories(path.substr(0, slash), 0700)) {
    return false;
  }
  const int lock = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) return false;
  bool result = false;
  if (::flock(lock, LOCK_EX) == 0) {
    std::string text;
    const ReadStatus status = posix::ReadFile(path, text);
    std::optional<Store> store;
    if (status != ReadStatus::Failed) store = Parse(text);
    if (store && change(*store, result) && !posix::ReplaceFile(path, Serialize(*store), 0600)) {
      result = false;
    }
    ::flock(lock, LOCK_UN);
  }
  ::close(lock);
  return result;
}

}  // namespace

bool RegWriteValue(int root, std::string_view keyPath, std::string_view name, const RegData* data) {
  const auto parts = Parts(keyPath);
  if (!parts) return false;
  return Modify([&](Store& store, bool& result) {
    bool changed = false;
    std::string path;
    if (!FindKey(store, root, path)) {
      store.push_back({root, path, {}});  // the root key itself
      changed = true;
    }
    for (const std::string& part : *parts) {
      path += (path.empty() ? "" : "\\") + part;
      if (!FindKey(store, root, path)) {
        store.push_back({root, path, {}});
        changed = true;
      }
    }
    result = true;
    if (!data) return changed;
    StoredKey* key = FindKey(store, root, keyPath);
    auto it = FindValue(*key, name);
    if (it == key->values.end()) {
      key->values.push_back({std::string(name), data->kind, data->bytes});
    } else {
      it->kind = data->kind;
      it->bytes = data->bytes;
    }
    return true;
  });
}

bool RegEraseValue(int root, std::string_view keyPath, std::string_view name) {
  return Modify([&](Store& store, bool& result) {
    StoredKey* key = FindKey(store, root, keyPath);
    if (!key) return false;
    auto it = FindValue(*key, name);
    if (it == key->values.end()) return false;
    key->values.erase(it);
    result = true;
    return true;
  });
}

bool RegEraseKey(int root, std::string_view keyPath) {
  const auto parts = Parts(keyPath);
  if (!parts || parts->empty()) return false;  // a root key cannot be deleted
  return Modify([&](Store& store, bool& result) {
    StoredKey* key = FindKey(store, root, keyPath);
    if (!key) return false;
    const std::string prefix = key->path + "\\";
    for (const StoredKey& k : store) {
      if (k.root == root && k.path.size() > prefix.size() &&
          SamePath(std::string_view(k.path).substr(0, prefix.size()), prefix)) {
        return false;  // it has subkeys
      }
    }
    store.erase(store.begin() + (key - store.data()));
    result = true;
    return true;
  });
}

std::optional<RegData> RegReadValue(int root, std::string_view keyPath, std::string_view name) {
  std::string text;
  if (posix::ReadFile(StorePath(), text) != ReadStatus::Ok) return std::nullopt;
  std::optional<Store> store = Parse(text);
  if (!store) return std::nullopt;
  StoredKey* key = FindKey(*store, root, keyPath);
  if (!key) return std::nullopt;
  const auto it = FindValue(*key, name);
  if (it == key->values.end()) return std::nullopt;
  return RegData{it->kind, it->bytes};
}

}  // namespace tw::platform
