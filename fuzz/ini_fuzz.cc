// The INI reader and writer over any file contents, with a section, key and value taken from
// the input, in an in-memory file system that can fail any step of a replacement. The reader
// never writes past the caller's buffer and cuts values and listings as it promises; a set
// value reads back, every other key and section reads as before, setting or removing twice
// changes nothing more, and a refused or failed write leaves the file as it was.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "env.h"
#include "fuzz_util.h"
#include "platform.h"

namespace {

constexpr char kFile[] = "/fuzz/fuzz.ini";
constexpr char kLock[] = "/fuzz/fuzz.ini.lock";

// Files in memory; the failAt-th step of a replacement (creating, writing, syncing, closing
// or renaming the temporary) fails.
class MemEnv : public tw::Env {
 public:
  std::map<std::string, std::string> files;
  int failAt = 0;

  Read ReadFile(const std::string& path, std::string* contents) override {
    auto it = files.find(path);
    if (it == files.end()) return Read::missing;
    *contents = it->second;
    return Read::ok;
  }
  int CreateExclusive(const std::string& path) override {
    if (Fails()) return -1;
    if (files.count(path) != 0) {
      errno = EEXIST;
      return -1;
    }
    files[path];
    open_[next_] = path;
    return next_++;
  }
  bool Write(int fd, std::string_view data) override {
    if (Fails()) return false;
    files[open_.at(fd)].append(data);
    return true;
  }
  bool Sync(int) override { return !Fails(); }
  bool Close(int fd) override {
    open_.erase(fd);
    return !Fails();
  }
  bool Rename(const std::string& from, const std::string& to) override {
    if (Fails()) return false;
    files[to] = std::move(files.at(from));
    files.erase(from);
    return true;
  }
  bool Remove(const std::string& path) override { return files.erase(path) > 0; }
  bool SyncDir(const std::string&) override { return true; }
  int Lock(const std::string& path) override {
    files[path];
    return 1;
  }
  void Unlock(int) override {}

  void Reset(int failStep) {
    files.clear();
    open_.clear();
    failAt = failStep;
    steps_ = 0;
  }
  bool failed() const { return failAt != 0 && steps_ >= failAt; }
  std::optional<std::string> File() const {
    auto it = files.find(kFile);
    return it == files.end() ? std::nullopt : std::optional<std::string>(it->second);
  }
  // Nothing but the file and its lock file: no temporary left behind.
  bool OnlyFileAndLock() const {
    for (const auto& [name, body] : files)
      if (name != kFile && name != kLock) return false;
    return open_.empty();
  }

 private:
  bool Fails() {
    if (++steps_ != failAt) return false;
    errno = EIO;
    return true;
  }
  std::map<int, std::string> open_;
  int next_ = 100;
  int steps_ = 0;
};

MemEnv& Files() {
  static MemEnv env;
  return env;
}

struct Read {
  uint32_t status = 0;
  std::string text;  // a value, or a listing with its NULs
  bool operator==(const Read&) const = default;
};

// A value or listing read with room enough for anything the file holds.
Read Get(const std::string& section, const std::string& key) {
  const size_t room = Files().File().value_or("").size() + 2;
  std::vector<char> buffer(room, '\x7f');
  Read r;
  r.status = TWINIGetString(section.c_str(), key.c_str(), buffer.data(), room, kFile);
  if (!key.empty()) {
    FUZZ_CHECK(std::memchr(buffer.data(), '\0', room) != nullptr);
    r.text = buffer.data();
  } else {
    size_t end = 0;
    while (end + 1 < room && !(buffer[end] == '\0' && (end == 0 || buffer[end - 1] == '\0'))) ++end;
    FUZZ_CHECK(buffer[end] == '\0');
    r.text.assign(buffer.data(), end);
  }
  return r;
}

// The same read into a buffer of exactly size bytes: the value cut to size - 1 bytes, a
// listing cut after its last whole entry, and the same status.
void CheckBounded(const std::string& section, const std::string& key, const Read& full,
                  size_t size) {
  // Bytes past size would be outside the allocation: the sanitizer reports a write there.
  std::vector<char> buffer(size == 0 ? 1 : size, '\x7f');
  const uint32_t st = TWINIGetString(section.c_str(), key.c_str(), buffer.data(), size, kFile);
  FUZZ_CHECK(st == full.status);
  FUZZ_CHECK(TWINIGetString(section.c_str(), key.c_str(), nullptr, 0, kFile) == full.status);
  if (size == 0) {
    FUZZ_CHECK(buffer[0] == '\x7f');
    return;
  }
  if (!key.empty()) {
    FUZZ_CHECK(std::memchr(buffer.data(), '\0', size) != nullptr);
    FUZZ_CHECK(std::string(buffer.data()) == full.text.substr(0, size - 1));
    return;
  }
  if (size == 1) {
    FUZZ_CHECK(buffer[0] == '\0');
    return;
  }
  // An entry holding a NUL cannot be told from the list's end by a C caller.
  if (Files().File().value_or("").find('\0') != std::string::npos) return;
  // Whole entries of the full listing, then the second NUL.
  size_t at = 0;
  while (buffer[at] != '\0') {
    const size_t length = std::strlen(buffer.data() + at);
    FUZZ_CHECK(at + length + 1 < size);
    at += length + 1;
  }
  FUZZ_CHECK(full.text.compare(0, at, buffer.data(), at) == 0);
  FUZZ_CHECK(at == full.text.size() || full.text[at] != '\0');
  if (at < full.text.size()) {
    const size_t next = full.text.find('\0', at);
    FUZZ_CHECK(next + 2 > size);  // the next entry would not have fitted
  }
}

char Fold(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

// Sections and keys the file names, as the reader would look for them: "[name]" lines give
// sections, other lines keys (the text before "=").
struct Probe {
  std::string section, key;
};
std::vector<Probe> ProbesOf(std::string_view contents, const std::string& section) {
  std::vector<Probe> probes{{section, ""}};
  std::string current;
  while (!contents.empty() && probes.size() < 24) {
    size_t nl = contents.find('\n');
    std::string_view line = contents.substr(0, nl);
    contents.remove_prefix(nl == std::string_view::npos ? contents.size() : nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('\0') != std::string_view::npos) continue;
    if (!line.empty() && line.front() == '[') {
      size_t close = line.find(']');
      if (close == std::string_view::npos) continue;
      current = std::string(line.substr(1, close - 1));
      probes.push_back({current, ""});
    } else if (!line.empty()) {
      probes.push_back({current, std::string(line.substr(0, line.find('=')))});
    }
  }
  return probes;
}

// What a write of key in section may change: that key, and the listing of that section.
bool Touched(const Probe& p, const std::string& section, const std::string& key) {
  return SameNoCase(p.section, section) && (p.key.empty() || SameNoCase(p.key, key));
}

std::vector<Read> ReadProbes(const std::vector<Probe>& probes) {
  std::vector<Read> out;
  for (const Probe& p : probes) out.push_back(Get(p.section, p.key));
  return out;
}

void CheckUntouched(const std::vector<Probe>& probes, const std::vector<Read>& before,
                    const std::string& section, const std::string& key) {
  const std::vector<Read> after = ReadProbes(probes);
  for (size_t i = 0; i < probes.size(); ++i) {
    if (Touched(probes[i], section, key)) continue;
    // A write that made the file makes every other key read as missing instead.
    if (before[i].status == TWFAIL_INI_ACCESS)
      FUZZ_CHECK(after[i] == (Read{TWFAIL_INI_MISSING_KEY, ""}));
    else
      FUZZ_CHECK(after[i] == before[i]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tw::Env::Set(&Files());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool exists = in.ConsumeBool();
  const size_t room = in.ConsumeIntegralInRange<size_t>(0, 48);
  const int failAt = in.ConsumeIntegralInRange<int>(0, 6);
  const std::string section = twfuzz::CString(in.ConsumeRandomLengthString(24));
  const std::string key = twfuzz::CString(in.ConsumeRandomLengthString(24));
  const std::string value = twfuzz::CString(in.ConsumeRandomLengthString(40));
  const std::string contents = in.ConsumeRemainingBytesAsString();

  MemEnv& env = Files();
  env.Reset(0);
  if (exists) env.files[kFile] = contents;

  // Reading, with every probe cut to the buffer size the input chose.
  const std::vector<Probe> probes = ProbesOf(contents, section);
  const std::vector<Read> before = ReadProbes(probes);
  for (size_t i = 0; i < probes.size(); ++i) {
    if (!exists) FUZZ_CHECK(before[i].status == TWFAIL_INI_ACCESS);
    CheckBounded(probes[i].section, probes[i].key, before[i], room);
  }
  const Read keyBefore = Get(section, key);
  CheckBounded(section, key, keyBefore, room);

  // Writing.
  const std::optional<std::string> original = env.File();
  env.failAt = failAt;
  const uint32_t st = TWINISetString(section.c_str(), key.c_str(), value.c_str(), kFile);
  FUZZ_CHECK(env.OnlyFileAndLock());
  if (st != TWSUCCESS) {
    FUZZ_CHECK(st == TWFAIL_INI_MISSING_KEY || st == TWFAIL_INI_ACCESS || st == TWFAIL_INI_TEMP);
    FUZZ_CHECK(env.File() == original);
    return 0;
  }
  FUZZ_CHECK(!env.failed());
  env.failAt = 0;
  const Read set = Get(section, key);
  if (value.empty()) {
    FUZZ_CHECK(set.status == TWFAIL_INI_MISSING_KEY && set.text.empty());
  } else {
    FUZZ_CHECK(set.status == TWSUCCESS && set.text == value);
  }
  CheckUntouched(probes, before, section, key);
  const std::optional<std::string> written = env.File();
  FUZZ_CHECK(TWINISetString(section.c_str(), key.c_str(), value.c_str(), kFile) == TWSUCCESS);
  FUZZ_CHECK(env.File() == written);

  // A removal takes the key's first entry: removing until the file stays as it is leaves
  // no entry behind, one line at a time.
  const size_t lines = static_cast<size_t>(std::count(written->begin(), written->end(), '\n'));
  for (size_t n = 0;; ++n) {
    FUZZ_CHECK(n <= lines);
    const std::optional<std::string> was = env.File();
    FUZZ_CHECK(TWINIRemoveString(section.c_str(), key.c_str(), kFile) == TWSUCCESS);
    if (env.File() == was) break;
  }
  FUZZ_CHECK(Get(section, key) == (Read{TWFAIL_INI_MISSING_KEY, ""}));
  CheckUntouched(probes, before, section, key);
  FUZZ_CHECK(env.OnlyFileAndLock());

  FUZZ_CHECK(TWINIDelete(kFile) == 1);
  FUZZ_CHECK(env.files.empty());
  FUZZ_CHECK(Get(section, key).status == TWFAIL_INI_ACCESS);
  return 0;
}
