// Helpers for the foundation library's tests: an in-memory stream, warning capture, a
// recorder that watches an object's change protocol and the check every mutator must pass,
// and a small storable class to build test classes on.
#ifndef TW_TESTS_TWCL_BASE_BASE_TEST_UTIL_H_
#define TW_TESTS_TWCL_BASE_BASE_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "twcl/base/binding.h"
#include "twcl/base/error.h"
#include "twcl/base/object_stream.h"
#include "twcl/base/string.h"

namespace twcl_test {

using Bytes = std::vector<unsigned char>;

// A CL_Stream over a byte vector; its size is always known, so Remaining() is exact.
class VectorStream : public CL_Stream {
 public:
  using CL_Object::operator=;
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

// One change of an object, answering whether it did what it should.
template <class T>
struct Mutation {
  const char* name;
  std::function<bool(T&)> change;
};

// Every change runs twice on a fresh object from make(), vetoed and permitted: it answers
// the permission, asks the pre-change dependents once, tells the post-change dependents once
// when permitted, and a vetoed one leaves state(object) as it was.
template <class T, std::size_t N, class Make, class State>
void ExpectEveryMutatorAsksFirstAndTellsOnce(const Mutation<T> (&cases)[N], Make make,
                                             State state) {
  for (const Mutation<T>& c : cases) {
    for (const bool permit : {false, true}) {
      T object = make();
      const auto before = state(object);
      Recorder recorder;
      recorder.permit = permit;
      recorder.Watch(object);
      EXPECT_EQ(c.change(object), permit) << c.name;
      EXPECT_EQ(recorder.pre, 1) << c.name;
      EXPECT_EQ(recorder.post, permit ? 1 : 0) << c.name;
      if (!permit) {
        EXPECT_EQ(state(object), before) << c.name;
      }
    }
  }
}

// A storable test class with the stored form id (4), value (4). A negative stored value is
// refused, so that a test can corrupt one object in the middle of a stream.
template <CL_Long Id>
class StoredValue : public CL_Object {
 public:
  using CL_Object::operator=;
  static constexpr CL_Long kId = Id;

  explicit StoredValue(CL_Long v = 0) : value(v) {}

  CL_Long ClassId() const override { return kId; }
  bool WriteTo(CL_Stream& s) const override { return s.WriteLong(kId) && s.WriteLong(value); }
  bool ReadFrom(CL_Stream& s) override {
    CL_Long v;
    if (!ReadClassId(s) || !s.ReadLong(v) || v < 0) return false;
    value = v;
    return true;
  }

  CL_Long value;

 protected:
  StoredValue(const StoredValue& other) : CL_Object(other), value(other.value) {}
};

// The text of a string, NULs included.
inline std::string Text(const CL_String& s) {
  return std::string(s.AsPtr(), static_cast<std::size_t>(s.Size()));
}

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
