// CL_String's editing, case, search, replacement, formatting and field operations, the
// write-back slice and the field splitter.
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "twcl/base/binding.h"
#include "twcl/base/error.h"
#include "twcl/base/string.h"

namespace {

constexpr CL_Long kLongMax = std::numeric_limits<CL_Long>::max();
// The longest text a string holds: its capacity must still fit a long with the margins
// the capacity rules add.
constexpr CL_Long kMaxLength = kLongMax - 16;

CL_Long LengthOf(const char* s) {
  return s != nullptr ? static_cast<CL_Long>(std::min<std::size_t>(std::strlen(s), kMaxLength)) : 0;
}

std::string_view View(const CL_String& s) {
  return {s.AsPtr(), static_cast<std::size_t>(s.Size())};
}

// Capacities are computed in 64 bits; the result holds at least total characters and
// their terminator and never exceeds a long.
CL_Long Room(std::int64_t wanted, std::int64_t total) {
  return static_cast<CL_Long>(std::clamp<std::int64_t>(wanted, total + 1, kLongMax));
}

bool IsLower(char c) {
  return c >= 'a' && c <= 'z';
}

bool IsUpper(char c) {
  return c >= 'A' && c <= 'Z';
}

bool IsLetter(char c) {
  return IsLower(c) || IsUpper(c);
}

char ToUpperChar(char c) {
  return IsLower(c) ? static_cast<char>(c - 'a' + 'A') : c;
}

char ToLowerChar(char c) {
  return IsUpper(c) ? static_cast<char>(c - 'A' + 'a') : c;
}

bool Within(const char* p, const char* begin, CL_Long size) {
  const std::less_equal<const char*> before_or_at;
  return begin != nullptr && before_or_at(begin, p) && std::less<const char*>{}(p, begin + size);
}

// A string's storage as its members see it.
struct Storage {
  std::unique_ptr<char[]>& buffer;
  CL_Long& capacity;
  CL_Long& length;
};

// Replaces `removed` characters at `at` by `count` bytes from `bytes`, which may lie in the
// same buffer. A result that does not fit goes into a fresh buffer of `grown` bytes.
// Requires 0 <= at <= length, 0 <= removed <= length - at, and a result within kMaxLength.
void Splice(Storage s, CL_Long at, CL_Long removed, const char* bytes, CL_Long count,
            CL_Long grown) {
  const CL_Long tail = s.length - at - removed;
  const CL_Long total = s.length - removed + count;
  if (total + 1 > s.capacity || !s.buffer) {
    auto fresh = std::make_unique<char[]>(static_cast<std::size_t>(grown));
    if (at > 0) std::memcpy(fresh.get(), s.buffer.get(), static_cast<std::size_t>(at));
    if (count > 0) std::memcpy(fresh.get() + at, bytes, static_cast<std::size_t>(count));
    if (tail > 0)
      std::memcpy(fresh.get() + at + count, s.buffer.get() + at + removed,
                  static_cast<std::size_t>(tail));
    s.buffer = std::move(fresh);
    s.capacity = grown;
  } else {
    // Moving the tail would shift the source when it lies in this very buffer.
    std::string kept;
    if (count > 0 && Within(bytes, s.buffer.get(), s.capacity)) {
      kept.assign(bytes, static_cast<std::size_t>(count));
      bytes = kept.data();
    }
    if (tail > 0 && count != removed)
      std::memmove(s.buffer.get() + at + count, s.buffer.get() + at + removed,
                   static_cast<std::size_t>(tail));
    if (count > 0) std::memcpy(s.buffer.get() + at, bytes, static_cast<std::size_t>(count));
  }
  s.length = total;
  s.buffer[total] = '\0';
}

CL_Long SliceStart(const CL_String& parent, CL_Long start) {
  return std::clamp<CL_Long>(start, 0, parent.Size());
}

CL_Long SliceCount(const CL_String& parent, CL_Long start, CL_Long count) {
  if (start < 0 || start > parent.Size()) return 0;
  return std::clamp<CL_Long>(count, 0, parent.Size() - start);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Editing

bool CL_String::Insert(const char* s, CL_Long pos) {
  if (pos < -1 || pos > _length - 1) return false;
  const CL_Long count = LengthOf(s);
  if (count == 0) return true;
  if (std::int64_t{_length} + count > kMaxLength) return false;
  if (!PrepareToChange()) return false;
  Splice({_buffer, _capacity, _length}, pos + 1, 0, s, count,
         Room(std::int64_t{_capacity} + count + 12, std::int64_t{_length} + count));
  Notify();
  return true;
}

bool CL_String::Insert(char c, CL_Long pos) {
  if (pos < -1 || pos > _length - 1) return false;
  if (_length + 1 > kMaxLength) return false;
  if (!PrepareToChange()) return false;
  Splice({_buffer, _capacity, _length}, pos + 1, 0, &c, 1,
         Room(std::int64_t{_capacity} + 13, std::int64_t{_length} + 1));
  Notify();
  return true;
}

bool CL_String::Append(char c) {
  return Insert(c, _length - 1);
}

bool CL_String::Delete(CL_Long start, CL_Long count) {
  if (start < 0 || start >= _length || count < 0) return false;
  const CL_Long removed = std::min(count, _length - start);
  if (removed == 0) return true;
  if (!PrepareToChange()) return false;
  Splice({_buffer, _capacity, _length}, start, removed, nullptr, 0, _capacity);
  if (_length >= 8 && _length < _capacity / 4) {
    auto smaller = std::make_unique<char[]>(static_cast<std::size_t>(_length) + 12);
    std::memcpy(smaller.get(), _buffer.get(), static_cast<std::size_t>(_length) + 1);
    _buffer = std::move(smaller);
    _capacity = _length + 12;
  }
  Notify();
  return true;
}

bool CL_String::PadTo(CL_Long width, char c, bool on_right) {
  if (_length >= width || width > kMaxLength) return false;
  if (!PrepareToChange()) return false;
  const std::string pads(static_cast<std::size_t>(width - _length), c);
  Splice({_buffer, _capacity, _length}, on_right ? _length : 0, 0, pads.data(),
         static_cast<CL_Long>(pads.size()), Room(std::int64_t{width} + 13, width));
  Notify();
  return true;
}

CL_Long CL_String::ToUpper() {
  const std::string_view text = View(*this);
  const auto changed = static_cast<CL_Long>(std::count_if(text.begin(), text.end(), IsLower));
  if (changed == 0 || !PrepareToChange()) return 0;
  std::transform(_buffer.get(), _buffer.get() + _length, _buffer.get(), ToUpperChar);
  Notify();
  return changed;
}

CL_Long CL_String::ToLower() {
  const std::string_view text = View(*this);
  const auto changed = static_cast<CL_Long>(std::count_if(text.begin(), text.end(), IsUpper));
  if (changed == 0 || !PrepareToChange()) return 0;
  std::transform(_buffer.get(), _buffer.get() + _length, _buffer.get(), ToLowerChar);
  Notify();
  return changed;
}

bool CL_String::Capitalize() {
  if (_length == 0 || !IsLetter(_buffer[0])) return false;
  CL_Long end = 1;
  while (end < _length && IsLetter(_buffer[end])) ++end;
  std::string word(_buffer.get(), static_cast<std::size_t>(end));
  word[0] = ToUpperChar(word[0]);
  std::transform(word.begin() + 1, word.end(), word.begin() + 1, ToLowerChar);
  // Already in that form: nothing changes, so nobody is asked or told.
  if (std::memcmp(word.data(), _buffer.get(), word.size()) == 0) return true;
  if (!PrepareToChange()) return false;
  std::memcpy(_buffer.get(), word.data(), word.size());
  Notify();
  return true;
}

CL_String CL_String::InUpperCase() const {
  CL_String copy(*this);
  copy.ToUpper();
  return copy;
}

CL_String CL_String::InLowerCase() const {
  CL_String copy(*this);
  copy.ToLower();
  return copy;
}

bool CL_String::AssignWithFormat(const char* format, ...) {
  char area[1024] = {};
  if (format == nullptr) return _AssignBytes(area, 0);  // no format: the empty string
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(area, sizeof area, format, args);
  va_end(args);
  if (length < 0) return false;
  if (length >= static_cast<int>(sizeof area)) {
    CL_Error::Warning("CL_String::AssignWithFormat: arg too large, possible memory corruption");
    return false;
  }
  return _AssignBytes(area, length);
}

// ---------------------------------------------------------------------------------------
// Searching

CL_Long CL_String::Index(char c, CL_Long start) const {
  const std::size_t at = View(*this).find(c, static_cast<std::size_t>(std::max<CL_Long>(start, 0)));
  return at == std::string_view::npos ? -1 : static_cast<CL_Long>(at);
}

CL_Long CL_String::NIndex(char c, CL_Long start) const {
  const std::size_t at =
      View(*this).find_first_not_of(c, static_cast<std::size_t>(std::max<CL_Long>(start, 0)));
  return at == std::string_view::npos ? -1 : static_cast<CL_Long>(at);
}

CL_Long CL_String::CharIndex(const char* set, CL_Long start) const {
  if (set == nullptr) return 0;
  const std::size_t at =
      View(*this).find_first_of(set, static_cast<std::size_t>(std::max<CL_Long>(start, 0)));
  return at == std::string_view::npos ? -1 : static_cast<CL_Long>(at);
}

CL_Long CL_String::NCharIndex(const char* set, CL_Long start) const {
  if (set == nullptr) return 0;
  const std::size_t at =
      View(*this).find_first_not_of(set, static_cast<std::size_t>(std::max<CL_Long>(start, 0)));
  return at == std::string_view::npos ? -1 : static_cast<CL_Long>(at);
}

CL_Long CL_String::SubstringIndex(const char* s, CL_Long start, CL_Long n) const {
  if (s == nullptr || n < 1) return -1;
  start = std::max<CL_Long>(start, 0);
  const std::string_view wanted(s);
  if (std::int64_t{start} > std::int64_t{_length} - static_cast<std::int64_t>(wanted.size()))
    return -1;
  const std::string_view text = View(*this);
  std::size_t from = static_cast<std::size_t>(start);
  for (CL_Long found = 1;; ++found) {
    const std::size_t at = text.find(wanted, from);
    if (at == std::string_view::npos) return -1;
    if (found == n) return static_cast<CL_Long>(at);
    from = at + 1;  // occurrences may overlap
  }
}

bool CL_String::IsPrefixOf(const char* s) const {
  return s != nullptr && std::string_view(s).starts_with(View(*this));
}

CL_String CL_String::Before(const char* s) const {
  if (s == nullptr) return *this;
  const std::size_t at = View(*this).find(s);
  if (at == std::string_view::npos) return *this;
  return CL_String(AsPtr(), static_cast<CL_Long>(at));
}

// ---------------------------------------------------------------------------------------
// Slices and replacement

CL_StringSlice CL_String::Substring(CL_Long start, CL_Long count) {
  return CL_StringSlice(*this, start, count);
}

CL_Long CL_String::Replace(const char* old_text, const char* new_text, CL_Long start, CL_Long max) {
  if (old_text == nullptr || *old_text == '\0' || max < 1) return 0;
  start = std::max<CL_Long>(start, 0);
  if (start > _length) return 0;
  const std::string_view text = View(*this);
  const std::string_view from(old_text);
  const std::string_view to(new_text != nullptr ? new_text : "");
  std::string result(text.substr(0, static_cast<std::size_t>(start)));
  std::size_t pos = static_cast<std::size_t>(start);
  CL_Long replaced = 0;
  while (replaced < max) {
    const std::size_t at = text.find(from, pos);
    if (at == std::string_view::npos) break;
    result.append(text.substr(pos, at - pos)).append(to);
    pos = at + from.size();
    ++replaced;
    if (result.size() > static_cast<std::size_t>(kMaxLength)) return 0;
  }
  if (replaced == 0) return 0;
  result.append(text.substr(pos));
  if (result.size() > static_cast<std::size_t>(kMaxLength)) return 0;
  if (!PrepareToChange()) return 0;
  const auto total = static_cast<CL_Long>(result.size());
  if (total + 1 > _capacity || !_buffer) {
    const std::int64_t growth =
        (static_cast<std::int64_t>(to.size()) - static_cast<std::int64_t>(from.size())) * replaced;
    const CL_Long capacity = Room(std::int64_t{_capacity} + growth, total);
    _buffer = std::make_unique<char[]>(static_cast<std::size_t>(capacity));
    _capacity = capacity;
  }
  std::memcpy(_buffer.get(), result.data(), result.size());
  _length = total;
  _buffer[total] = '\0';
  Notify();
  return replaced;
}

CL_Long CL_String::ReplaceAll(const char* old_text, const char* new_text, CL_Long start) {
  return Replace(old_text, new_text, start, _length);
}

// ---------------------------------------------------------------------------------------
// Fields

CL_String CL_String::Field(CL_Long n, const char* separators) const {
  if (n == 0) return *this;
  CL_String field;
  if (n < 0) return field;
  CL_StringSplitter splitter(*this, separators);
  for (CL_Long i = 0; i < n; ++i) {
    field = splitter.Next();
    if (field.Size() == 0) break;
  }
  return field;
}

CL_Long CL_String::Split(CL_String fields[], CL_Long n, const char* separators) const {
  if (fields == nullptr || n < 1) return 0;
  // Walk a copy: fields may include this very string.
  const CL_String text(*this);
  CL_StringSplitter splitter(text, separators);
  CL_Long stored = 0;
  for (; stored < n - 1; ++stored) {
    CL_String field = splitter.Next();
    if (field.Size() == 0) return stored;
    fields[stored] = field;
  }
  const CL_String rest = splitter.Remaining();
  const std::size_t begin = View(rest).find_first_not_of(separators != nullptr ? separators : "");
  if (begin == std::string_view::npos) return stored;
  fields[stored] = CL_String(rest.AsPtr() + begin, rest.Size() - static_cast<CL_Long>(begin));
  return stored + 1;
}

// ---------------------------------------------------------------------------------------
// CL_StringSlice

CL_StringSlice::CL_StringSlice(CL_String& parent, CL_Long start, CL_Long count)
    : CL_String(parent.AsPtr() + SliceStart(parent, start), SliceCount(parent, start, count)),
      _parent(&parent),
      _start(SliceStart(parent, start)),
      _count(SliceCount(parent, start, count)) {
  AddDependent(CL_Binding0<CL_StringSlice>(this, &CL_StringSlice::_UpdateParent));
}

CL_StringSlice::CL_StringSlice(const CL_StringSlice& other)
    : CL_String(other), _parent(other._parent), _start(other._start), _count(other._count) {
  AddDependent(CL_Binding0<CL_StringSlice>(this, &CL_StringSlice::_UpdateParent));
}

CL_StringSlice::~CL_StringSlice() = default;

CL_StringSlice& CL_StringSlice::operator=(const CL_StringSlice& other) {
  Assign(other);
  return *this;
}

bool CL_StringSlice::_UpdateParent() {
  CL_String& parent = *_parent;
  // The parent may have changed since the slice was taken: never reach past its end.
  const CL_Long start = std::min(_start, parent._length);
  const CL_Long covered = std::min(_count, parent._length - start);
  const std::int64_t total = std::int64_t{parent._length} - covered + _length;
  if (total > kMaxLength || !parent.PrepareToChange()) return false;
  Splice({parent._buffer, parent._capacity, parent._length}, start, covered, AsPtr(), _length,
         Room(total + 13, total));
  // The slice now covers what it wrote, so its next edit replaces that text.
  _start = start;
  _count = _length;
  parent.Notify();
  return true;
}

// ---------------------------------------------------------------------------------------
// CL_StringSplitter

CL_StringSplitter::CL_StringSplitter(const CL_String& s, const char* separators)
    : _string(&s), _separators(separators) {}

CL_StringSplitter::~CL_StringSplitter() = default;

CL_StringSplitter::CL_StringSplitter(const CL_StringSplitter& other)
    : CL_Object(other),
      _string(other._string),
      _position(other._position),
      _separators(other._separators) {}

CL_StringSplitter& CL_StringSplitter::operator=(const CL_StringSplitter& other) {
  if (&other != this) {
    _string = other._string;
    _position = other._position;
    _separators = other._separators;
  }
  return *this;
}

const char* CL_StringSplitter::ClassName() const {
  return "CL_StringSplitter";
}

void CL_StringSplitter::Reset() {
  _position = -1;
}

CL_String CL_StringSplitter::Next(const char* separators) {
  if (separators != nullptr) _separators = separators;
  const std::string_view text = View(*_string);
  const std::string_view separator = View(_separators);
  const auto from = static_cast<std::size_t>(std::int64_t{_position} + 1);
  const std::size_t begin =
      from < text.size() ? text.find_first_not_of(separator, from) : std::string_view::npos;
  if (begin == std::string_view::npos) {
    _position = _string->Size() - 1;
    return CL_String();
  }
  std::size_t end = text.find_first_of(separator, begin);
  if (end == std::string_view::npos) end = text.size();
  _position = static_cast<CL_Long>(end) - 1;
  return CL_String(text.data() + begin, static_cast<CL_Long>(end - begin));
}

CL_String CL_StringSplitter::Remaining() {
  const std::string_view text = View(*_string);
  const auto from = static_cast<std::size_t>(std::int64_t{_position} + 1);
  _position = _string->Size() - 1;
  if (from >= text.size()) return CL_String();
  return CL_String(text.data() + from, static_cast<CL_Long>(text.size() - from));
}

CL_String CL_StringSplitter::Scan(const char* set) {
  const std::string_view text = View(*_string);
  const auto from = static_cast<std::size_t>(std::int64_t{_position} + 1);
  if (set == nullptr || from >= text.size()) return CL_String();
  const std::size_t stop = text.find_first_not_of(set, from);
  if (stop == std::string_view::npos) return CL_String();
  // The text starts at the position itself (the last character of the previous field);
  // before the first field there is none.
  CL_String scanned;
  if (_position >= 0)
    scanned = CL_String(text.data() + _position, static_cast<CL_Long>(stop) - _position);
  _position = static_cast<CL_Long>(stop) - 1;
  return scanned;
}
