// CL_ByteString: a byte array that owns its bytes and grows as assignments need.
#include "twcl/base/byte_string.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

#include "twcl/base/class_registry.h"
#include "twcl/base/object_stream.h"

namespace {

const CL_ClassIdEntry byte_string_entry(CL_ClassId_ByteString,
                                        []() -> CL_Object* { return new CL_ByteString; });

// A zero-filled block holding a copy of the first count bytes at from (from may be null
// when count is 0).
unsigned char* CopyBlock(CL_Long size, const unsigned char* from, CL_Long count) {
  auto* block = new unsigned char[static_cast<std::size_t>(size)]();
  if (count > 0) std::memcpy(block, from, static_cast<std::size_t>(count));
  return block;
}

}  // namespace

CL_ByteString::CL_ByteString() : CL_ByteArray(this) {}

CL_ByteString::CL_ByteString(CL_Long size) : CL_ByteArray(this) {
  if (size <= 0) return;
  _bytes = CopyBlock(size, nullptr, 0);
  _size = size;
}

CL_ByteString::CL_ByteString(const CL_ByteArray& bytes) : CL_ByteArray(this) {
  if (bytes.Size() <= 0) return;
  _bytes = CopyBlock(bytes.Size(), bytes.AsPtr(), bytes.Size());
  _size = bytes.Size();
}

CL_ByteString::CL_ByteString(const unsigned char* bytes, CL_Long size) : CL_ByteArray(this) {
  if (bytes == nullptr || size <= 0) return;
  _bytes = CopyBlock(size, bytes, size);
  _size = size;
}

CL_ByteString::CL_ByteString(const CL_ByteString& other)
    : CL_ByteString(static_cast<const CL_ByteArray&>(other)) {}

CL_ByteString::CL_ByteString(const CL_String& s) : CL_ByteArray(this) {
  const CL_Long size = s.Size() + 1;
  _bytes = CopyBlock(size, reinterpret_cast<const unsigned char*>(s.AsPtr()), size);
  _size = size;
}

CL_ByteString::~CL_ByteString() {
  delete[] _bytes;
}

const char* CL_ByteString::ClassName() const {
  return "CL_ByteString";
}

CL_Long CL_ByteString::ClassId() const {
  return CL_ClassId_ByteString;
}

CL_Object* CL_ByteString::Clone() const {
  return new CL_ByteString(*this);
}

bool CL_ByteString::ChangeSize(CL_Long n) {
  if (n < 0) return false;
  if (n == _size) return true;
  unsigned char* block = n > 0 ? CopyBlock(n, _bytes, std::min(n, _size)) : nullptr;
  delete[] _bytes;
  _bytes = block;
  _size = n;
  return true;
}

CL_ByteString& CL_ByteString::operator+=(const CL_ByteArray& other) {
  const CL_Long added = other.Size();
  if (added <= 0 || std::int64_t{_size} + added > std::numeric_limits<CL_Long>::max()) return *this;
  if (!_PrepareBoth()) return *this;
  // The new block is filled before the old one goes: other may view this very string.
  unsigned char* block = CopyBlock(_size + added, _bytes, _size);
  std::memcpy(block + _size, other.AsPtr(), static_cast<std::size_t>(added));
  delete[] _bytes;
  _bytes = block;
  _size += added;
  _NotifyBoth();
  return *this;
}

CL_ByteString& CL_ByteString::operator=(const CL_ByteString& other) {
  return operator=(static_cast<const CL_ByteArray&>(other));
}

CL_ByteString& CL_ByteString::operator=(const CL_ByteArray& other) {
  const CL_Long n = other.Size();
  if (other.AsPtr() == _bytes || n <= 0 || !_PrepareBoth()) return *this;
  // A view into this string is never larger than it, so growing never frees its source.
  if (_size < n) ChangeSize(n);
  std::memmove(_bytes, other.AsPtr(), static_cast<std::size_t>(n));
  _NotifyBoth();
  return *this;
}

CL_ByteString& CL_ByteString::operator=(const CL_String& s) {
  const CL_Long n = s.Size() + 1;
  if (!_PrepareBoth()) return *this;
  if (_size < n) ChangeSize(n);
  std::memmove(_bytes, s.AsPtr(), static_cast<std::size_t>(n));
  _NotifyBoth();
  return *this;
}

CL_ByteString& CL_ByteString::operator=(CL_Long value) {
  if (!_PrepareBoth()) return *this;
  if (_size < 4) ChangeSize(_size + 4);
  const auto v = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) _bytes[i] = static_cast<unsigned char>(v >> (8 * i));
  _NotifyBoth();
  return *this;
}

CL_ByteString& CL_ByteString::operator=(short value) {
  if (!_PrepareBoth()) return *this;
  if (_size < 2) ChangeSize(_size + 2);
  const auto v = static_cast<std::uint16_t>(value);
  _bytes[0] = static_cast<unsigned char>(v);
  _bytes[1] = static_cast<unsigned char>(v >> 8);
  _NotifyBoth();
  return *this;
}

CL_ByteString& CL_ByteString::operator=(const CL_Object& other) {
  if (!CheckClassId(other, "CL_ByteString::operator= (CL_Object&)")) return *this;
  if (const auto* bytes = dynamic_cast<const CL_ByteArray*>(&other)) operator=(*bytes);
  return *this;
}

CL_Long CL_ByteString::StorableFormWidth() const {
  return _size + 8;
}

bool CL_ByteString::WriteTo(CL_Stream& s) const {
  return s.WriteLong(CL_ClassId_ByteString) && s.WriteLong(_size) &&
         (_size == 0 || s.Write(_bytes, _size));
}

bool CL_ByteString::ReadFrom(CL_Stream& s) {
  if (!ReadClassId(s)) return false;
  CL_Long n;
  if (!s.ReadLong(n) || n < 0 || n > s.Remaining()) return false;
  std::unique_ptr<unsigned char[]> block(n > 0 ? new unsigned char[static_cast<std::size_t>(n)]
                                               : nullptr);
  if (n > 0 && s.Read(block.get(), n) != n) return false;
  if (!_PrepareBoth()) return false;
  delete[] _bytes;
  _bytes = block.release();
  _size = n;
  _NotifyBoth();
  return true;
}
