// Helpers for the foundation library's tests: an in-memory stream, warning capture and a
// recorder that watches an object's change protocol.
#ifndef TW_TESTS_TWCL_BASE_BASE_TEST_UTIL_H_
#define TW_TESTS_TWCL_BASE_BASE_TEST_UTIL_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "twcl/base/binding.h"
#include "twcl/base/error.h"
#include "twcl/base/object_stream.h"

namespace twcl_test {

using Bytes = std::vector<unsigned char>;

// A CL_Stream over a byte vector; its size is always known, so Remaining() is exact.
class VectorStream : public CL_Stream {
 public:
  VectorStream() = default;
  explicit VectorStream(Bytes initial) : bytes(std::move(initial)) {}

  using CL_Stream::Read;
  using CL_Stream::Write;
  CL_Long Read(void* buffer, CL_Long count) override {
    if (count < 0) return -1;
    const CL_Long n = std::max<CL_Long>(0, std::min<CL_Long>(count, Size() - position));
    if (n > 0) std::memcpy(buffer, bytes.data() + position, static_cast<std::size_t>(n));
    position += n;
    return n;
  }
  bool Write(const void* buffer, CL_Long count) override {
    if (count < 0) return false;
    if (bytes.size() < static_cast<std::size_t>(position) + count)
      bytes.resize(static_cast<std::size_t>(position) + count);
    if (count > 0) std::memcpy(bytes.data() + position, buffer, static_cast<std::size_t>(count));
    position += count;
    return true;
  }
  bool SeekTo(CL_Long offset) override {
    if (offset < 0) return false;
    position = offset;
    return true;
  }
  bool ChangeSize(CL_Long new_size) override {
    if (new_size < 0) return false;
    bytes.resize(static_cast<std::size_t>(new_size));
    return true;
  }
  CL_Long Size() override { return static_cast<CL_Long>(bytes.size()); }
  CL_Long Offset() override { return position; }

  Bytes bytes;
  CL_Long position = 0;
};

// Installs a handler that collects warning texts; the previous handler comes back when the
// capture ends.
class WarningCapture {
 public:
  WarningCapture() : _previous(CL_Error::SetWarningHandler(&Collect)) { Texts().clear(); }
  ~WarningCapture() { CL_Error::SetWarningHandler(_previous); }
  WarningCapture(const WarningCapture&) = delete;
  WarningCapture& operator=(const WarningCapture&) = delete;

  const std::vector<std::string>& texts() const { return Texts(); }
  void clear() { Texts().clear(); }

 private:
  static std::vector<std::string>& Texts() {
    static std::vector<std::string> texts;
    return texts;
  }
  static bool Collect(const char* text) {
    Texts().emplace_back(text);
    return true;
  }

  CL_ErrorHandler _previous;
};

// Watches an object: counts the pre-change questions (answering permit) and the
// post-change notices. It must outlive every change of the watched object.
struct Recorder {
  bool permit = true;
  int pre = 0;
  int post = 0;

  bool Pre() {
    ++pre;
    return permit;
  }
  bool Post() {
    ++post;
    return true;
  }
  void Watch(const CL_Object& object) {
    object.AddPreChangeDependent(CL_Binding0<Recorder>(this, &Recorder::Pre));
    object.AddDependent(CL_Binding0<Recorder>(this, &Recorder::Post));
  }
};

// Little-endian bytes of a 32-bit value, for building stored forms by hand.
inline Bytes LE(std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  return {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
          static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

}  // namespace twcl_test

#endif  // TW_TESTS_TWCL_BASE_BASE_TEST_UTIL_H_
