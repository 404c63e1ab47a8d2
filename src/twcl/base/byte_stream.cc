// CL_ByteStream: an object stream over a byte string in memory, which grows as it is
// written.
#include "twcl/base/byte_stream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

constexpr std::int64_t kLongMax = std::numeric_limits<CL_Long>::max();

}  // namespace

CL_ByteStream::CL_ByteStream(CL_ByteString* bytes) : _bytes(bytes) {}

CL_ByteStream::~CL_ByteStream() = default;

const char* CL_ByteStream::ClassName() const {
  return "CL_ByteStream";
}

CL_Long CL_ByteStream::ClassId() const {
  return CL_ClassId_ByteStream;
}

CL_Long CL_ByteStream::Read(void* buffer, CL_Long count) {
  if (_bytes == nullptr) return -1;
  const CL_Long n = std::max<CL_Long>(0, std::min<CL_Long>(count, _bytes->Size() - _position));
  if (n > 0 && buffer == nullptr) return -1;
  if (n > 0) std::memcpy(buffer, _bytes->AsPtr() + _position, static_cast<std::size_t>(n));
  _position += n;
  return n;
}

bool CL_ByteStream::Write(const void* buffer, CL_Long count) {
  if (_bytes == nullptr || count < 0) return false;
  if (count == 0) return true;
  if (buffer == nullptr) return false;
  const std::int64_t end = std::int64_t{_position} + count;
  if (end > kLongMax) return false;
  if (_bytes->Size() < end && !_bytes->ChangeSize(static_cast<CL_Long>(end))) return false;
  std::memmove(_bytes->AsPtr() + _position, buffer, static_cast<std::size_t>(count));
  _position = static_cast<CL_Long>(end);
  return true;
}

bool CL_ByteStream::SeekTo(CL_Long offset) {
  if (_bytes == nullptr || offset < 0) return false;
  // Only 64 bytes are added, whatever the offset: a position further out reads nothing
  // and a write there grows the string to reach it.
  if (_bytes->Size() < offset &&
      (std::int64_t{_bytes->Size()} + 64 > kLongMax || !_bytes->ChangeSize(_bytes->Size() + 64)))
    return false;
  _position = offset;
  return true;
}

bool CL_ByteStream::SeekRelative(CL_Long delta) {
  if (_bytes == nullptr) return false;
  const std::int64_t target = std::int64_t{_position} + delta;
  if (target > kLongMax) return false;
  _position = static_cast<CL_Long>(std::max<std::int64_t>(target, 0));
  return true;
}

bool CL_ByteStream::SeekToEnd() {
  if (_bytes == nullptr) return false;
  _position = _bytes->Size();
  return true;
}

bool CL_ByteStream::ChangeSize(CL_Long new_size) {
  return _bytes != nullptr && _bytes->ChangeSize(new_size);
}

CL_Long CL_ByteStream::Size() {
  return _bytes != nullptr ? _bytes->Size() : -1;
}

bool CL_ByteStream::Eof() {
  return _bytes == nullptr || _bytes->Size() <= _position;
}

CL_Long CL_ByteStream::Offset() {
  return _position;
}
