// CL_String's core: storage, construction, assignment, concatenation, comparison,
// conversions, text-stream forms and the stored form.
#include "twcl/base/string.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "twcl/base/byte_array.h"
#include "twcl/base/class_registry.h"
#include "twcl/base/error.h"
#include "twcl/base/object_stream.h"
#include "twcl/base/same_class.h"

namespace {

const CL_ClassIdEntry string_entry(CL_ClassId_String, []() -> CL_Object* { return new CL_String; });

constexpr CL_Long kLongMax = std::numeric_limits<CL_Long>::max();

const char* OrEmpty(const char* s) {
  return s != nullptr ? s : "";
}

CL_Long LengthOf(const char* s) {
  return s != nullptr ? static_cast<CL_Long>(std::min<std::size_t>(std::strlen(s), kLongMax - 16))
                      : 0;
}

// The other object as a string, or null when it is of another class.
using twcl_internal::SameClass;

// Decimal text of value; the buffer holds any 32-bit value.
std::string_view Decimal(CL_Long value, char (&text)[16]) {
  const auto result = std::to_chars(text, text + sizeof text, value);
  return {text, static_cast<std::size_t>(result.ptr - text)};
}

void CopyBytes(char* to, const char* from, CL_Long count) {
  if (count > 0) std::memmove(to, from, static_cast<std::size_t>(count));
}

}  // namespace

CL_String::CL_String() {
  _Init(nullptr, 0, 12);
}

CL_String::CL_String(const char* s) {
  const CL_Long length = LengthOf(s);
  _Init(s, length, length + 13);
}

CL_String::CL_String(const CL_String& other) : CL_OrderedObject(other) {
  _Init(other.AsPtr(), other._length, other._length + 13);
}

CL_String::CL_String(const char* buffer, CL_Long length) {
  if (buffer == nullptr || length < 0) length = 0;
  length = std::min(length, kLongMax - 16);
  _Init(buffer, length, length + 12);
}

CL_String::CL_String(CL_Long value, short width, char pad) {
  char digits[16];
  // The magnitude in 64 bits: the most negative value has no positive counterpart in 32.
  const auto magnitude = static_cast<std::uint64_t>(value < 0 ? -std::int64_t{value} : value);
  const auto end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
  const std::string_view number(digits, static_cast<std::size_t>(end - digits));
  const bool negative = value < 0;
  const std::size_t used = number.size() + (negative ? 1 : 0);
  const std::size_t pads = width > 0 && static_cast<std::size_t>(width) > used ? width - used : 0;
  std::string text;
  if (negative && pad != ' ') text += '-';
  text.append(pads, pad);
  if (negative && pad == ' ') text += '-';
  text += number;
  const auto length = static_cast<CL_Long>(text.size());
  _Init(text.data(), length, std::max<CL_Long>(std::max<CL_Long>(width, 12) + 1, length + 1));
}

CL_String::CL_String(char c, CL_Long count) {
  count = std::clamp<CL_Long>(count, 0, kLongMax - 16);
  _Init(nullptr, 0, count + 12);
  std::memset(_buffer.get(), static_cast<unsigned char>(c), static_cast<std::size_t>(count));
  _length = count;
  _buffer[count] = '\0';
}

CL_String::CL_String(const CL_ByteArray& bytes) {
  const unsigned char* data = bytes.AsPtr();
  const CL_Long size = data != nullptr ? std::max<CL_Long>(bytes.Size(), 0) : 0;
  const void* nul = size > 0 ? std::memchr(data, 0, static_cast<std::size_t>(size)) : nullptr;
  const CL_Long length =
      nul != nullptr ? static_cast<CL_Long>(static_cast<const unsigned char*>(nul) - data) : size;
  _Init(reinterpret_cast<const char*>(data), length, length + 13);
}

CL_String::~CL_String() = default;

void CL_String::_Init(const char* bytes, CL_Long length, CL_Long capacity) {
  _buffer = std::make_unique<char[]>(static_cast<std::size_t>(capacity));
  _capacity = capacity;
  if (bytes != nullptr) CopyBytes(_buffer.get(), bytes, length);
  _length = bytes != nullptr ? length : 0;
  _buffer[_length] = '\0';
}

bool CL_String::_Reserve(CL_Long capacity) {
  if (capacity <= _capacity && _buffer) return true;
  auto grown = std::make_unique<char[]>(static_cast<std::size_t>(capacity));
  CopyBytes(grown.get(), AsPtr(), _length + 1);
  _buffer = std::move(grown);
  _capacity = capacity;
  return true;
}

bool CL_String::_AssignBytes(const char* bytes, CL_Long length) {
  if (!PrepareToChange()) return false;
  if (length + 1 > _capacity || !_buffer) {
    // The new buffer is filled before the old one goes: bytes may lie in the old one.
    auto fresh = std::make_unique<char[]>(static_cast<std::size_t>(length) + 13);
    CopyBytes(fresh.get(), bytes, length);
    _buffer = std::move(fresh);
    _capacity = length + 13;
  } else {
    CopyBytes(_buffer.get(), bytes, length);
  }
  _length = length;
  _buffer[_length] = '\0';
  Notify();
  return true;
}

bool CL_String::_AppendBytes(const char* bytes, CL_Long length) {
  if (length <= 0) return true;
  if (std::int64_t{_length} + length > kLongMax - 16) return false;
  if (!PrepareToChange()) return false;
  const CL_Long total = _length + length;
  if (total + 1 > _capacity || !_buffer) {
    auto fresh = std::make_unique<char[]>(static_cast<std::size_t>(total) + 14);
    CopyBytes(fresh.get(), AsPtr(), _length);
    CopyBytes(fresh.get() + _length, bytes, length);
    _buffer = std::move(fresh);
    _capacity = total + 14;
  } else {
    CopyBytes(_buffer.get() + _length, bytes, length);
  }
  _length = total;
  _buffer[_length] = '\0';
  Notify();
  return true;
}

CL_String CL_String::_Concat(const char* a, CL_Long a_length, const char* b, CL_Long b_length) {
  CL_String result;
  const std::int64_t total = std::int64_t{a_length} + b_length;
  if (total > kLongMax - 16) return result;
  const auto length = static_cast<CL_Long>(total);
  if (length + 1 > result._capacity) result._Reserve(length + 14);
  CopyBytes(result._buffer.get(), a, a_length);
  CopyBytes(result._buffer.get() + a_length, b, b_length);
  result._length = length;
  result._buffer[length] = '\0';
  return result;
}

const char* CL_String::ClassName() const {
  return "CL_String";
}

CL_Long CL_String::ClassId() const {
  return CL_ClassId_String;
}

CL_Object* CL_String::Clone() const {
  return new CL_String(*this);
}

const char* CL_String::AsPtr() const {
  return _buffer ? _buffer.get() : "";
}

int CL_String::_Order(const CL_String& other) const {
  return std::strcmp(AsPtr(), other.AsPtr());
}

bool CL_String::CompareWith(const CL_String& s, short op) const {
  if (const std::optional<bool> met = twcl_internal::MeetsOrder(_Order(s), op)) return *met;
  const std::string_view mine(AsPtr(), static_cast<std::size_t>(_length));
  const std::string_view theirs(s.AsPtr(), static_cast<std::size_t>(s._length));
  switch (op) {
    case CL_CmpPrefix:
      return mine.starts_with(theirs);
    case CL_CmpContains:
      return mine.find(theirs) != std::string_view::npos;
    default:
      CL_Error::Warning("CL_String::CompareWith: bad operator %d", op);
      return false;
  }
}

bool CL_String::CompareWith(const CL_Object& other, short op) const {
  const CL_String* s = SameClass(*this, other);
  return s != nullptr && CompareWith(*s, op);
}

bool CL_String::operator>=(const char* s) const {
  return std::strcmp(AsPtr(), OrEmpty(s)) >= 0;
}

bool CL_String::operator==(const char* s) const {
  return std::strcmp(AsPtr(), OrEmpty(s)) == 0;
}

bool CL_String::operator!=(const char* s) const {
  return std::strcmp(AsPtr(), OrEmpty(s)) != 0;
}

bool CL_String::operator<(const char* s) const {
  return std::strcmp(AsPtr(), OrEmpty(s)) < 0;
}

bool CL_String::operator<=(const char* s) const {
  return std::strcmp(AsPtr(), OrEmpty(s)) <= 0;
}

bool CL_String::operator>(const char* s) const {
  return std::strcmp(AsPtr(), OrEmpty(s)) > 0;
}

bool CL_String::Assign(double value) {
  // Beyond the 767 significant digits a double can have, %g prints nothing more.
  const int digits = std::clamp<CL_Long>(_capacity - 1, 11, 800);
  char text[1024];
  const int length = std::snprintf(text, sizeof text, "%.*g", digits, value);
  return length >= 0 && _AssignBytes(text, std::min<CL_Long>(length, sizeof text - 1));
}

bool CL_String::Assign(CL_Long value) {
  char text[16];
  const std::string_view decimal = Decimal(value, text);
  return _AssignBytes(decimal.data(), static_cast<CL_Long>(decimal.size()));
}

bool CL_String::Assign(const CL_String& other) {
  if (&other == this) return true;
  return _AssignBytes(other.AsPtr(), other._length);
}

bool CL_String::Assign(const char* s) {
  if (s != nullptr && s == AsPtr()) return true;
  return _AssignBytes(OrEmpty(s), LengthOf(s));
}

CL_String CL_String::operator+(const CL_String& other) const {
  return _Concat(AsPtr(), _length, other.AsPtr(), other._length);
}

CL_String CL_String::operator+(const char* s) const {
  if (s == nullptr || *s == '\0') return *this;
  return _Concat(AsPtr(), _length, s, LengthOf(s));
}

CL_String CL_String::operator+(CL_Long value) const {
  char text[16];
  const std::string_view decimal = Decimal(value, text);
  return _Concat(AsPtr(), _length, decimal.data(), static_cast<CL_Long>(decimal.size()));
}

CL_String& CL_String::operator+=(const CL_String& other) {
  _AppendBytes(other.AsPtr(), other._length);
  return *this;
}

CL_String& CL_String::operator+=(const char* s) {
  _AppendBytes(OrEmpty(s), LengthOf(s));
  return *this;
}

CL_String operator+(const char* s, const CL_String& t) {
  return CL_String(s) + t;
}

CL_String& CL_String::operator=(const CL_String& other) {
  Assign(other);
  return *this;
}

CL_String& CL_String::operator=(const char* s) {
  Assign(s);
  return *this;
}

CL_String& CL_String::operator=(CL_Long value) {
  Assign(value);
  return *this;
}

CL_String& CL_String::operator=(double value) {
  Assign(value);
  return *this;
}

CL_String& CL_String::operator=(const CL_Object& other) {
  if (!CheckClassId(other, "CL_String::op=")) return *this;
  if (const auto* s = dynamic_cast<const CL_String*>(&other)) Assign(*s);
  return *this;
}

CL_Long CL_String::AsLong() const {
  const char* p = AsPtr();
  while (*p == ' ') ++p;
  const bool negative = *p == '-';
  if (negative) ++p;
  // Unsigned arithmetic: a text beyond 32 bits wraps instead of overflowing.
  std::uint32_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = value * 10 + static_cast<std::uint32_t>(*p - '0');
  return static_cast<CL_Long>(negative ? 0u - value : value);
}

double CL_String::AsDouble() const {
  return std::strtod(AsPtr(), nullptr);
}

CL_String CL_String::AsString() const {
  return *this;
}

void CL_String::IntoStream(std::ostream& out) const {
  out.write(AsPtr(), _length);
}

void CL_String::FromStream(std::istream& in) {
  in >> std::ws;
  std::string word;
  for (int c = in.peek(); c != std::char_traits<char>::eof() && !std::isspace(c); c = in.peek())
    word.push_back(static_cast<char>(in.get()));
  // Nothing read: the string stays and the stream fails, like any extraction.
  if (word.empty() || word.size() > static_cast<std::size_t>(kLongMax - 16)) {
    in.setstate(std::ios::failbit);
    return;
  }
  _AssignBytes(word.data(), static_cast<CL_Long>(word.size()));
}

bool CL_String::ReadLine(std::istream& in) {
  std::string line;
  if (!std::getline(in, line) || line.size() > static_cast<std::size_t>(kLongMax - 16))
    return false;
  return _AssignBytes(line.data(), static_cast<CL_Long>(line.size()));
}

CL_Long CL_String::StorableFormWidth() const {
  return _length + 9;
}

bool CL_String::WriteTo(CL_Stream& s) const {
  return s.WriteLong(CL_ClassId_String) && s.WriteLong(_length + 1) &&
         s.Write(AsPtr(), _length + 1);
}

bool CL_String::ReadFrom(CL_Stream& s) {
  if (!ReadClassId(s)) return false;
  CL_Long stored;
  if (!s.ReadLong(stored)) return false;
  // The count includes the terminator; it must fit in what the stream still holds before
  // anything is allocated.
  if (stored <= 0 || stored > s.Remaining() || stored > kLongMax - 16) return false;
  auto fresh = std::make_unique<char[]>(static_cast<std::size_t>(stored) + 12);
  if (s.Read(fresh.get(), stored) != stored || fresh[stored - 1] != '\0') return false;
  if (!PrepareToChange()) return false;
  _buffer = std::move(fresh);
  _capacity = stored + 12;
  _length = stored - 1;
  Notify();
  return true;
}
