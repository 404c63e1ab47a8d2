// The registry: string values under HKEY_LOCAL_MACHINE, kept in one file of the installation
// directory in place of a machine-wide database.
//
// Store: "<installation directory>registry/machine.reg", lines "[key\path]" opening a key and
// "name=text" lines holding its values. Key paths and value names match without regard to
// ASCII case, as in the system registry; a key exists when it or a key below it is stored.
// Writers serialise on the lock file "registry/machine.lock" (threads and processes) and
// replace the store atomically, so readers take no lock and see one whole version.
// What the format cannot hold is refused: a key holding CR or LF (538); a value name holding
// "=", CR or LF or beginning with "[", or a text holding CR or LF (539).
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "env.h"
#include "platform.h"
#include "tw/coding.h"
#include "tw/guard.h"

namespace {

constexpr char kComponents[] = "Software\\Quendal\\Components";

struct Key {
  std::string path;
  std::vector<std::pair<std::string, std::string>> values;
};
using Store = std::vector<Key>;

char fold(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

bool has_line_break(std::string_view s) {
  return s.find_first_of("\r\n") != s.npos;
}

// The key path with its empty levels dropped ("a\\b\" is "a\b"); nullopt when the store
// could not hold it.
std::optional<std::string> normalise(std::string_view path) {
  if (has_line_break(path)) return std::nullopt;
  std::string out;
  while (!path.empty()) {
    size_t end = path.find('\\');
    std::string_view level = path.substr(0, end);
    path.remove_prefix(end == path.npos ? path.size() : end + 1);
    if (level.empty()) continue;
    if (!out.empty()) out += '\\';
    out += level;
  }
  return out;
}

// Writing always lands below the components key; reading takes a subkey that begins with
// "\" from the root instead.
std::optional<std::string> key_path(const char* subkey, bool reading) {
  if (subkey == nullptr) return std::nullopt;
  std::string_view s(subkey);
  if (reading && !s.empty() && s.front() == '\\') return normalise(s.substr(1));
  return normalise(std::string(kComponents) + "\\" + subkey);
}

bool storable_name(std::string_view name) {
  return name.find('=') == name.npos && !has_line_break(name) &&
         (name.empty() || name.front() != '[');
}

Store parse(std::string_view text) {
  Store store;
  while (!text.empty()) {
    size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    text.remove_prefix(lf == text.npos ? text.size() : lf + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      store.push_back({std::string(line.substr(1, line.size() - 2)), {}});
    } else if (!store.empty()) {
      size_t eq = line.find('=');
      if (eq != line.npos)
        store.back().values.emplace_back(std::string(line.substr(0, eq)),
                                         std::string(line.substr(eq + 1)));
    }
  }
  return store;
}

std::string serialise(const Store& store) {
  std::string out;
  for (const Key& key : store) {
    out += '[' + key.path + "]\n";
    for (const auto& [name, text] : key.values) out += name + '=' + text + '\n';
  }
  return out;
}

Key* find_key(Store& store, std::string_view path) {
  for (Key& key : store)
    if (equal_nocase(key.path, path)) return &key;
  return nullptr;
}

// A key exists when it is stored or a key below it is; the root always exists.
bool key_exists(const Store& store, std::string_view path) {
  if (path.empty()) return true;
  for (const Key& key : store) {
    std::string_view p(key.path);
    if (equal_nocase(p, path) || (p.size() > path.size() && p[path.size()] == '\\' &&
                                  equal_nocase(p.substr(0, path.size()), path)))
      return true;
  }
  return false;
}

std::string store_dir() {
  const char* dir = TWFileExeDir();
  if (dir == nullptr || *dir == '\0') return {};
  return std::string(dir) + "registry";
}

enum class Loaded { ok, failed };

Loaded load(const std::string& dir, Store* store) {
  std::string text;
  switch (tw::Env::Default()->ReadFile(dir + "/machine.reg", &text)) {
    case tw::Env::Read::ok:
      *store = parse(text);
      return Loaded::ok;
    case tw::Env::Read::missing:
      store->clear();
      return Loaded::ok;
    default:
      return Loaded::failed;
  }
}

class StoreLock {
 public:
  explicit StoreLock(const std::string& dir)
      : path_(dir + "/machine.lock"), fd_(tw::Env::Default()->Lock(path_)) {}
  // The lock file goes while it is held (a waiter that locked it then takes the new one),
  // so that nothing of the lock stays once the writers are done.
  ~StoreLock() {
    if (fd_ < 0) return;
    (void)tw::Env::Default()->Remove(path_);
    tw::Env::Default()->Unlock(fd_);
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  std::string path_;
  int fd_;
};

uint32_t set_value(const char* subkey, const char* valueName, const char* text) {
  std::optional<std::string> path = key_path(subkey, false);
  if (!path) return TWFAIL_REGISTRY_ACCESS;
  std::string_view name = valueName != nullptr ? valueName : "";
  bool remove = text == nullptr || *text == '\0';
  if (!storable_name(name) || (!remove && has_line_break(text)))
    return TWFAIL_REGISTRY_MISSING_VALUE;

  std::string dir = store_dir();
  if (dir.empty() || !TWMkDir(dir.c_str())) return TWFAIL_REGISTRY_ACCESS;
  StoreLock lock(dir);
  if (!lock.held()) return TWFAIL_REGISTRY_ACCESS;
  Store store;
  if (load(dir, &store) != Loaded::ok) return TWFAIL_REGISTRY_ACCESS;

  // The key is created (or opened) before its value is stored or deleted, as the system
  // registry does: a failed deletion still leaves the key behind.
  Key* key = find_key(store, *path);
  bool created = key == nullptr;
  if (created) {
    store.push_back({*path, {}});
    key = &store.back();
  }
  auto& values = key->values;
  auto it = values.begin();
  while (it != values.end() && !equal_nocase(it->first, name)) ++it;

  uint32_t st = TWSUCCESS;
  if (remove) {
    if (it == values.end())
      st = TWFAIL_REGISTRY_MISSING_VALUE;
    else
      values.erase(it);
  } else if (it == values.end()) {
    values.emplace_back(std::string(name), text);
  } else {
    it->second = text;
  }
  if (st != TWSUCCESS && !created) return st;
  if (!tw::Env::Default()->ReplaceFile(dir + "/machine.reg", serialise(store)))
    return st != TWSUCCESS ? TWFAIL_REGISTRY_ACCESS : TWFAIL_REGISTRY_MISSING_VALUE;
  return st;
}

}  // namespace

extern "C" {

// A null or empty text deletes the value; 539 when it is not there.
TW_API uint32_t TWRegistrySetString(const char* subkey, const char* valueName, const char* text) {
  return tw::guard([&] { return set_value(subkey, valueName, text); });
}

// A null value name is the key's default (unnamed) value. A text that does not fit the
// buffer with its NUL is not read (539) rather than cut: a cut path would look valid.
TW_API uint32_t TWRegistryGetString(const char* subkey, const char* valueName, char* buffer,
                                    uint32_t bufferSize) {
  return tw::guard([&]() -> uint32_t {
    if (buffer == nullptr || bufferSize == 0) return TWFAIL_NULL_BUFFER;
    buffer[0] = '\0';
    std::optional<std::string> path = key_path(subkey, true);
    std::string dir = store_dir();
    if (!path || dir.empty()) return TWFAIL_REGISTRY_ACCESS;
    Store store;
    if (load(dir, &store) != Loaded::ok || !key_exists(store, *path)) return TWFAIL_REGISTRY_ACCESS;
    std::string_view name = valueName != nullptr ? valueName : "";
    Key* key = find_key(store, *path);
    if (key == nullptr) return TWFAIL_REGISTRY_MISSING_VALUE;
    for (const auto& [n, text] : key->values) {
      if (!equal_nocase(n, name)) continue;
      if (text.size() >= bufferSize) return TWFAIL_REGISTRY_MISSING_VALUE;
      tw::copy_bounded(buffer, bufferSize, text);
      return TWSUCCESS;
    }
    return TWFAIL_REGISTRY_MISSING_VALUE;
  });
}

TW_API uint32_t TWRegistryRemoveString(const char* subkey, const char* valueName) {
  return TWRegistrySetString(subkey, valueName, nullptr);
}

}  // extern "C"
