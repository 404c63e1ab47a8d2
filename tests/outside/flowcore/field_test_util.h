// Helpers of the field and field-list tests: owning wrappers for streams, fields and lists.
#ifndef TW_TESTS_OUTSIDE_FLOWCORE_FIELD_TEST_UTIL_H_
#define TW_TESTS_OUTSIDE_FLOWCORE_FIELD_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "flowcore.h"

namespace twtest {

// A stream record that frees its data.
class Stream {
 public:
  Stream() = default;
  explicit Stream(std::string_view bytes, uint32_t format = TWSTREAMFMT_NATIVE) {
    Set(bytes, format);
  }
  ~Stream() { TWStreamDataFree(&s_); }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  void Set(std::string_view bytes, uint32_t format = TWSTREAMFMT_NATIVE) {
    EXPECT_EQ(TWStreamDataSet(&s_, format, bytes.data(), static_cast<uint32_t>(bytes.size())), 0u);
  }
  TWStream* get() { return &s_; }
  const TWStream* get() const { return &s_; }
  std::string bytes() const {
    return s_.data ? std::string(static_cast<const char*>(s_.data), s_.length) : std::string();
  }
  uint32_t format() const { return s_.format; }

 private:
  TWStream s_{};
};

// A standalone field, freed at the end of the scope.
class Field {
 public:
  Field(uint32_t type, uint32_t count = 1) { EXPECT_EQ(TWFieldAlloc(&f_, type, count), 0u); }
  ~Field() { TWFieldFree(f_); }
  Field(const Field&) = delete;
  Field& operator=(const Field&) = delete;
  operator TWFIELD() const { return f_; }

 private:
  TWFIELD f_ = TWNULLHANDLE;
};

// A field list, freed at the end of the scope unless released.
class List {
 public:
  explicit List(uint32_t records = 1, uint32_t flags = 0) {
    EXPECT_EQ(TWFieldlistAlloc(&l_, records, flags), 0u);
  }
  // Takes a list made elsewhere (a merge).
  explicit List(TWFIELDLIST adopt, bool) : l_(adopt) {}
  ~List() { TWFieldlistFree(l_); }
  List(List&& o) noexcept : l_(o.release()) {}
  List(const List&) = delete;
  List& operator=(const List&) = delete;
  operator TWFIELDLIST() const { return l_; }
  TWFIELDLIST* out() { return &l_; }
  TWFIELDLIST release() {
    TWFIELDLIST l = l_;
    l_ = TWNULLHANDLE;
    return l;
  }

  TWFIELD Add(std::string_view name, uint32_t type) {
    Stream n(name);
    TWFIELD f = TWNULLHANDLE;
    EXPECT_EQ(TWFieldlistAppend(l_, n.get(), type, &f), 0u) << name;
    return f;
  }
  std::string Name(uint32_t index) const {
    Stream n;
    EXPECT_EQ(TWFieldlistGetName(l_, index, 0, n.get()), 0u);
    return n.bytes();
  }
  TWFIELD At(uint32_t index) const {
    TWFIELD f = TWNULLHANDLE;
    EXPECT_EQ(TWFieldlistGetField(l_, index, 0, &f, nullptr), 0u);
    return f;
  }

 private:
  TWFIELDLIST l_ = TWNULLHANDLE;
};

inline std::string TextOf(TWFIELD f, uint32_t index = 1, uint32_t format = TWSTREAMFMT_NATIVE) {
  Stream s;
  int32_t isNull = -1;
  uint32_t st = TWFieldGetStream(f, index, format, s.get(), &isNull);
  if (st != 0) return "status " + std::to_string(st);
  return isNull ? "<null>" : s.bytes();
}

}  // namespace twtest

#endif  // TW_TESTS_OUTSIDE_FLOWCORE_FIELD_TEST_UTIL_H_
