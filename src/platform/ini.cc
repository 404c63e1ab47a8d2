// INI files: the line-oriented configuration files such as twmain.ini, read and rewritten
// atomically.
//
// File form: plain 8-bit text. A section begins with a line "[name]" (matched without
// regard to ASCII case over "[name]"; text after "]" is ignored) and ends at the next line
// beginning with "[" or at the end of the file. An entry is a line beginning with the key
// (matched without regard to case over the key's length) followed by "=" and the value, or
// by the end of the line (an empty value). The reader takes CRLF or a lone LF as a line's
// end, and reads a last line that has no line end; lines may be of any length.
//
// Reading (TWINIGetString) never writes past the caller's capacity:
// - with a key, the value is cut to bufferSize - 1 characters and ended with NUL;
// - with a null or empty key (listing mode), the section's lines that are neither empty nor
//   begin with ";" are copied, each ended by a NUL, and one more NUL ends the list. A
//   listing that does not fit is cut after the last whole line that fits, and still ends
//   with the double NUL (bufferSize 1 holds only one NUL; bufferSize 0 writes nothing);
// - a null buffer (or bufferSize 0) only tells whether the key is there.
// The status tells what the file holds, not what fitted: 0 when the key is there with a
// non-empty value (or the section lists at least one line), 534 when the key is missing,
// its value is empty, or the section is missing or lists nothing; 535 when the file cannot
// be read (or the section or file name is null).
//
// Writing (TWINISetString, TWINIRemoveString) runs under an exclusive lock on the file
// "<file>.lock" beside the INI file (Env::Lock), so concurrent writers in threads and
// processes are serialised and no update is lost; the writer removes the lock file before
// it lets the lock go. Readers take no lock. The new contents are built
// in memory and written through Env::ReplaceFile (a temporary created exclusively beside
// the file, synced, renamed over it): a reader sees the old file or the new one, and any
// failure leaves the old file as it was and no temporary behind. Every line written ends
// with CRLF (lines of an LF file are rewritten with CRLF); lines of any length and a last
// line without a line end are kept. A call that would not change the file (removing a
// missing key, setting a value that is already there) does not rewrite it.
// Statuses: 0; 534 no key (null or empty); 535 a section, key or value holding CR or LF
// (or a key holding "=" or beginning with "[", or a section holding "]", which the reader
// could not find again), or writing/syncing/closing/renaming the temporary failed,
// or a null section or file name; 536 the lock file cannot be opened or the existing file
// cannot be read; 537 the temporary file cannot be created.
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "env.h"
#include "platform.h"
#include "tw/coding.h"
#include "tw/guard.h"

namespace tw {
namespace {

constexpr char kEol[] = "\r\n";

char fold(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when text begins with prefix, compared without regard to ASCII case.
bool starts_with_nocase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (fold(text[i]) != fold(prefix[i])) return false;
  return true;
}

std::string resolve(const char* file) {
  std::string name(file);
  if (name.find('/') != std::string::npos) return name;
  const char* dir = TWFileExeDir();  // "" before TWPlatInit: the working directory
  return std::string(dir ? dir : "") + name;
}

// Splits file contents into lines without their ends. A line ends at LF, and one CR right
// before that LF belongs to the end; a last line without LF is a line too.
std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
  }
  return lines;
}

bool is_section_line(std::string_view line, std::string_view header) {
  return starts_with_nocase(line, header);
}

bool is_next_section(std::string_view line) {
  return !line.empty() && line.front() == '[';
}

// An entry of key: the key over its length, then "=" or the end of the line.
bool is_entry(std::string_view line, std::string_view key) {
  return starts_with_nocase(line, key) && (line.size() == key.size() || line[key.size()] == '=');
}

std::string header_of(std::string_view section) {
  std::string h;
  h.reserve(section.size() + 2);
  h += '[';
  h += section;
  h += ']';
  return h;
}

// Index of the first line of the section's header, or lines.size().
size_t find_section(const std::vector<std::string_view>& lines, std::string_view section) {
  std::string header = header_of(section);
  for (size_t i = 0; i < lines.size(); ++i)
    if (is_section_line(lines[i], header)) return i;
  return lines.size();
}

bool has_line_break(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

// Fills buffer with the listing: whole lines each ended by NUL, then one more NUL; never more
// than size bytes. Returns nothing; the caller has already emptied the buffer.
void write_listing(char* buffer, size_t size, const std::vector<std::string_view>& entries) {
  if (buffer == nullptr || size < 2) return;
  size_t used = 0;
  for (std::string_view e : entries) {
    // The entry, its NUL, and the final NUL must fit.
    if (e.size() + 2 > size - used) break;
    std::memcpy(buffer + used, e.data(), e.size());
    used += e.size();
    buffer[used++] = '\0';
  }
  buffer[used] = '\0';
}

uint32_t get_string(const char* section, const char* key, char* buffer, size_t size,
                    const char* file) {
  bool listing = key == nullptr || *key == '\0';
  if (buffer != nullptr && size > 0) {
    buffer[0] = '\0';
    if (listing && size > 1) buffer[1] = '\0';
  }
  if (section == nullptr || file == nullptr) return TWFAIL_INI_ACCESS;

  std::string contents;
  if (Env::Default()->ReadFile(resolve(file), &contents) != Env::Read::ok) return TWFAIL_INI_ACCESS;
  std::vector<std::string_view> lines = split_lines(contents);

  size_t start = find_section(lines, section);
  if (start == lines.size()) return TWFAIL_INI_MISSING_KEY;

  if (listing) {
    std::vector<std::string_view> entries;
    for (size_t i = start + 1; i < lines.size() && !is_next_section(lines[i]); ++i)
      if (!lines[i].empty() && lines[i].front() != ';') entries.push_back(lines[i]);
    write_listing(buffer, size, entries);
    return entries.empty() ? TWFAIL_INI_MISSING_KEY : TWSUCCESS;
  }

  std::string_view k(key);
  for (size_t i = start + 1; i < lines.size() && !is_next_section(lines[i]); ++i) {
    if (!is_entry(lines[i], k)) continue;
    std::string_view value = lines[i].substr(k.size());
    if (!value.empty()) value.remove_prefix(1);  // the "="
    copy_bounded(buffer, size, value);
    return value.empty() ? TWFAIL_INI_MISSING_KEY : TWSUCCESS;
  }
  return TWFAIL_INI_MISSING_KEY;
}

// Builds the new contents for a set (value non-null) or a removal (value null). Returns
// false when the file needs no change.
bool rewrite(const std::vector<std::string_view>& lines, std::string_view section,
             std::string_view key, const char* value, std::string* out) {
  auto put = [out](std::string_view line) {
    out->append(line);
    out->append(kEol);
  };
  auto put_entry = [&] {
    out->append(key);
    out->push_back('=');
    out->append(value);
    out->append(kEol);
  };
  auto put_empty = [&](size_t n) {
    for (size_t j = 0; j < n; ++j) out->append(kEol);
  };

  size_t start = find_section(lines, section);
  if (start == lines.size()) {
    if (value == nullptr) return false;
    for (std::string_view line : lines) put(line);
    if (!lines.empty()) out->append(kEol);  // an empty line before the new section
    put(header_of(section));
    put_entry();
    return true;
  }

  for (size_t i = 0; i <= start; ++i) put(lines[i]);
  size_t held = 0;  // empty lines held back: a new key goes before them
  for (size_t i = start + 1; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (is_next_section(line)) {
      if (value == nullptr) return false;
      put_entry();
      put_empty(held);
      for (size_t j = i; j < lines.size(); ++j) put(lines[j]);
      return true;
    }
    if (is_entry(line, key)) {
      put_empty(held);
      if (value != nullptr) put_entry();
      for (size_t j = i + 1; j < lines.size(); ++j) put(lines[j]);
      return true;
    }
    if (line.empty()) {
      ++held;
      continue;
    }
    put_empty(held);
    held = 0;
    put(line);
  }
  if (value == nullptr) return false;
  put_entry();
  put_empty(held);
  return true;
}

// Text that the file form cannot hold, or that the reader could not find again.
bool refused(std::string_view section, std::string_view key, const char* value) {
  if (has_line_break(section) || has_line_break(key)) return true;
  if (value != nullptr && has_line_break(value)) return true;
  if (section.find(']') != std::string_view::npos) return true;
  if (key.find('=') != std::string_view::npos || key.front() == '[') return true;
  return false;
}

class FileLock {
 public:
  FileLock(Env* env, const std::string& path) : env_(env), path_(path), fd_(env->Lock(path)) {}
  // The lock file goes while it is held (Env::Lock makes a waiter that locked the removed
  // file try again), so that nothing of the lock stays once the writers are done.
  ~FileLock() {
    if (fd_ < 0) return;
    (void)env_->Remove(path_);
    env_->Unlock(fd_);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  Env* env_;
  std::string path_;
  int fd_;
};

// Sets (or, with a null value, removes) count keys of one section in one replacement: the
// file holds all of them afterwards, or none when anything fails.
uint32_t set_strings(const char* section, const char* const* keys, const char* const* values,
                     size_t count, const char* file) {
  if (section == nullptr || file == nullptr ||
      (count > 0 && (keys == nullptr || values == nullptr)))
    return TWFAIL_INI_ACCESS;
  for (size_t i = 0; i < count; ++i) {
    if (keys[i] == nullptr || *keys[i] == '\0') return TWFAIL_INI_MISSING_KEY;
    if (refused(section, keys[i], values[i])) return TWFAIL_INI_ACCESS;
  }

  Env* env = Env::Default();
  std::string path = resolve(file);
  FileLock lock(env, path + ".lock");
  if (!lock.held()) return TWFAIL_INI_OPEN;

  std::string contents;
  switch (env->ReadFile(path, &contents)) {
    case Env::Read::ok:
      break;
    case Env::Read::missing:
      contents.clear();
      break;
    case Env::Read::failed:
      return TWFAIL_INI_OPEN;
  }

  std::string updated = contents;
  for (size_t i = 0; i < count; ++i) {
    std::string next;
    next.reserve(updated.size() + std::strlen(keys[i]) + (values[i] ? std::strlen(values[i]) : 0) +
                 std::strlen(section) + 16);
    if (rewrite(split_lines(updated), section, keys[i], values[i], &next)) updated.swap(next);
  }
  if (updated == contents) return TWSUCCESS;

  switch (env->ReplaceFileDetailed(path, updated)) {
    case Env::Replace::ok:
      return TWSUCCESS;
    case Env::Replace::create_failed:
      return TWFAIL_INI_TEMP;
    case Env::Replace::write_failed:
      return TWFAIL_INI_ACCESS;
  }
  return TWFAIL_INI_ACCESS;
}

}  // namespace
}  // namespace tw

extern "C" {

TW_API uint32_t TWINIGetString(const char* section, const char* key, char* buffer,
                               size_t bufferSize, const char* file) {
  return tw::guard([&] { return tw::get_string(section, key, buffer, bufferSize, file); });
}

TW_API uint32_t TWINISetString(const char* section, const char* key, const char* value,
                               const char* file) {
  return tw::guard([&] { return tw::set_strings(section, &key, &value, 1, file); });
}

TW_API uint32_t TWINISetStrings(const char* section, const char* const* keys,
                                const char* const* values, size_t count, const char* file) {
  return tw::guard([&] { return tw::set_strings(section, keys, values, count, file); });
}

TW_API uint32_t TWINIRemoveString(const char* section, const char* key, const char* file) {
  const char* none = nullptr;
  return tw::guard([&] { return tw::set_strings(section, &key, &none, 1, file); });
}

TW_API int TWINIDelete(const char* file) {
  return tw::guard_value(0, [&] {
    if (file == nullptr) return 0;
    tw::Env* env = tw::Env::Default();
    std::string path = tw::resolve(file);
    // Taken so that a delete does not fall between a writer's read and its replace; the
    // delete goes ahead even when the lock cannot be had. The lock file goes too (while
    // held: Env::Lock makes a waiter that locked the removed file try again).
    std::string lockPath = path + ".lock";
    tw::FileLock lock(env, lockPath);
    return env->Remove(path) ? 1 : 0;
  });
}

}  // extern "C"
