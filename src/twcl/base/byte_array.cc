// CL_ByteArray: a bounded view over bytes owned elsewhere; every access stays inside the
// view.
#include "twcl/base/byte_array.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "twcl/base/class_registry.h"
#include "twcl/base/object_stream.h"
#include "twcl/base/same_class.h"

namespace {

const CL_ClassIdEntry byte_array_entry(CL_ClassId_ByteArray,
                                       []() -> CL_Object* { return new CL_ByteArray; });

short Sign(int r) {
  return static_cast<short>((r > 0) - (r < 0));
}

// Unsigned byte order over the shorter size; on an equal prefix the shorter comes first.
short CompareBytes(const unsigned char* a, CL_Long a_size, const unsigned char* b, CL_Long b_size) {
  const CL_Long common = std::min(a_size, b_size);
  if (common > 0) {
    if (const int r = std::memcmp(a, b, static_cast<std::size_t>(common))) return Sign(r);
  }
  return static_cast<short>((a_size > b_size) - (a_size < b_size));
}

using twcl_internal::SameClass;

}  // namespace

CL_ByteArray::CL_ByteArray(CL_Object* owner) : _owner(owner) {}

CL_ByteArray::CL_ByteArray(unsigned char* bytes, CL_Long size, CL_Object* owner)
    : _size(bytes != nullptr && size > 0 ? size : 0),
      _bytes(bytes != nullptr && size > 0 ? bytes : nullptr),
      _owner(owner) {}

CL_ByteArray::CL_ByteArray(const CL_ByteArray& other)
    : CL_OrderedObject(other), _size(other._size), _bytes(other._bytes), _owner(other._owner) {}

CL_ByteArray::~CL_ByteArray() = default;

const char* CL_ByteArray::ClassName() const {
  return "CL_ByteArray";
}

CL_Long CL_ByteArray::ClassId() const {
  return CL_ClassId_ByteArray;
}

CL_Object* CL_ByteArray::Clone() const {
  return new CL_ByteArray(*this);
}

bool CL_ByteArray::_PrepareBoth() {
  return PrepareToChange() && (_owner == nullptr || _owner == this || _owner->PrepareToChange());
}

void CL_ByteArray::_NotifyBoth() {
  Notify();
  if (_owner != nullptr && _owner != this) _owner->Notify();
}

bool CL_ByteArray::Fill(unsigned char value) {
  if (_size == 0 || !_PrepareBoth()) return false;
  std::memset(_bytes, value, static_cast<std::size_t>(_size));
  _NotifyBoth();
  return true;
}

CL_Long CL_ByteArray::CopyTo(unsigned char* destination, CL_Long count, CL_Long start) const {
  if (destination == nullptr || count < 1 || _size == 0 || start < 0 || start >= _size) return 0;
  const CL_Long n = std::min(count, _size - start);
  std::memmove(destination, _bytes + start, static_cast<std::size_t>(n));
  return n;
}

CL_Long CL_ByteArray::CopyFrom(const unsigned char* source, CL_Long count, CL_Long start) {
  if (source == nullptr || count < 1 || _size == 0 || start < 0 || start >= _size) return 0;
  if (!_PrepareBoth()) return 0;
  const CL_Long n = std::min(count, _size - start);
  std::memmove(_bytes + start, source, static_cast<std::size_t>(n));
  _NotifyBoth();
  return n;
}

CL_ByteArray& CL_ByteArray::operator=(const CL_ByteArray& other) {
  const CL_Long n = std::min(_size, other._size);
  if (_bytes == other._bytes || n == 0 || !_PrepareBoth()) return *this;
  std::memmove(_bytes, other._bytes, static_cast<std::size_t>(n));
  _NotifyBoth();
  return *this;
}

CL_ByteArray& CL_ByteArray::operator=(const unsigned char* bytes) {
  if (bytes == nullptr || bytes == _bytes || _size == 0 || !_PrepareBoth()) return *this;
  std::memmove(_bytes, bytes, static_cast<std::size_t>(_size));
  _NotifyBoth();
  return *this;
}

CL_ByteArray& CL_ByteArray::operator=(const CL_String& s) {
  const CL_Long n = std::min(_size, s.Size() + 1);
  if (n == 0 || !_PrepareBoth()) return *this;
  std::memmove(_bytes, s.AsPtr(), static_cast<std::size_t>(n));
  _NotifyBoth();
  return *this;
}

CL_ByteArray& CL_ByteArray::operator=(short value) {
  const auto v = static_cast<std::uint16_t>(value);
  const unsigned char b[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
  const CL_Long n = std::min<CL_Long>(_size, 2);
  if (n == 0 || !_PrepareBoth()) return *this;
  std::memcpy(_bytes, b, static_cast<std::size_t>(n));
  _NotifyBoth();
  return *this;
}

CL_ByteArray& CL_ByteArray::operator=(CL_Long value) {
  const auto v = static_cast<std::uint32_t>(value);
  const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                              static_cast<unsigned char>(v >> 16),
                              static_cast<unsigned char>(v >> 24)};
  const CL_Long n = std::min<CL_Long>(_size, 4);
  if (n == 0 || !_PrepareBoth()) return *this;
  std::memcpy(_bytes, b, static_cast<std::size_t>(n));
  _NotifyBoth();
  return *this;
}

CL_ByteArray& CL_ByteArray::operator=(const CL_Object& other) {
  if (!CheckClassId(other, "CL_ByteArray::operator= (CL_Object&)")) return *this;
  if (const auto* bytes = dynamic_cast<const CL_ByteArray*>(&other))
    CL_ByteArray::operator=(*bytes);
  return *this;
}

CL_Long CL_ByteArray::LongValueAt(CL_Long offset) const {
  if (offset < 0 || _size < 4 || offset > _size - 4) return 0;
  const unsigned char* b = _bytes + offset;
  return static_cast<CL_Long>(std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 |
                              std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24);
}

short CL_ByteArray::ShortValueAt(CL_Long offset) const {
  if (offset < 0 || _size < 2 || offset > _size - 2) return 0;
  const unsigned char* b = _bytes + offset;
  return static_cast<short>(static_cast<std::uint16_t>(b[0] | b[1] << 8));
}

CL_ByteArray CL_ByteArray::Subarray(CL_Long start, CL_Long count) const {
  if (start < 0 || start > _size) return CL_ByteArray(_owner);
  const CL_Long n = std::clamp<CL_Long>(count, 0, _size - start);
  if (n == 0) return CL_ByteArray(_owner);
  return CL_ByteArray(_bytes + start, n, _owner);
}

CL_ByteArray CL_ByteArray::Suffix(CL_Long start) const {
  start = std::max<CL_Long>(start, 0);
  return Subarray(start, _size - std::min(start, _size));
}

CL_Long CL_ByteArray::CommonPrefixLength(const unsigned char* bytes) const {
  if (bytes == nullptr) return 0;
  CL_Long n = 0;
  while (n < _size && _bytes[n] == bytes[n]) ++n;
  return n;
}

int CL_ByteArray::_Order(const CL_ByteArray& other) const {
  return CompareBytes(_bytes, _size, other._bytes, other._size);
}

short CL_ByteArray::Compare(const unsigned char* bytes) const {
  if (_size == 0) return 0;
  if (bytes == nullptr) return 1;
  return Sign(std::memcmp(_bytes, bytes, static_cast<std::size_t>(_size)));
}

bool CL_ByteArray::operator<(const unsigned char* bytes) const {
  return Compare(bytes) < 0;
}

bool CL_ByteArray::operator==(const unsigned char* bytes) const {
  return Compare(bytes) == 0;
}

bool CL_ByteArray::operator<=(const unsigned char* bytes) const {
  return Compare(bytes) <= 0;
}

bool CL_ByteArray::operator>(const unsigned char* bytes) const {
  return Compare(bytes) > 0;
}

bool CL_ByteArray::operator>=(const unsigned char* bytes) const {
  return Compare(bytes) >= 0;
}

bool CL_ByteArray::operator!=(const unsigned char* bytes) const {
  return Compare(bytes) != 0;
}

CL_String CL_ByteArray::AsString() const {
  return CL_String(*this);
}

CL_Long CL_ByteArray::StorableFormWidth() const {
  return _size + 4;
}

bool CL_ByteArray::WriteTo(CL_Stream& s) const {
  return s.WriteLong(CL_ClassId_ByteArray) && (_size == 0 || s.Write(_bytes, _size));
}

bool CL_ByteArray::ReadFrom(CL_Stream& s) {
  if (!ReadClassId(s) || _size > s.Remaining()) return false;
  if (_size == 0) return true;
  std::vector<unsigned char> read(static_cast<std::size_t>(_size));
  if (s.Read(read.data(), _size) != _size || !_PrepareBoth()) return false;
  std::memcpy(_bytes, read.data(), read.size());
  _NotifyBoth();
  return true;
}
