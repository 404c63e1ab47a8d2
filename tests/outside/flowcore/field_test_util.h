// Helpers of the field and field-list tests: owning wrappers for streams, fields and lists.
#ifndef TW_TESTS_OUTSIDE_FLOWCORE_FIELD_TEST_UTIL_H_
#define TW_TESTS_OUTSIDE_FLOWCORE_FIELD_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "flowcore.h"
#include "flowcore_ptr.h"

namespace twtest {

// A stream record that frees its data.
class Stream {
 public:
  Stream() = default;
  explicit Stream(std::string_view bytes, uint32_t format = TWSTREAMFMT_NATIVE) {
    Set(bytes, format);
  }

  void Set(std::string_view bytes, uint32_t format = TWSTREAMFMT_NATIVE) {
    EXPECT_EQ(s_.Set(format, bytes), 0u);
  }
  TWStream* get() { return s_.get(); }
  const TWStream* get() const { return s_.get(); }
  std::string bytes() const { return std::string(s_.view()); }
  uint32_t format() const { return s_.get()->format; }

 private:
  flowcore::StreamData s_;
};

// A standalone field, freed at the end of the scope.
class Field {
 public:
  Field(uint32_t type, uint32_t count = 1) {
    EXPECT_EQ(TWFieldAlloc(flowcore::Out(f_), type, count), 0u);
  }
  operator TWFIELD() const { return f_.get(); }

 private:
  flowcore::FieldPtr f_;
};

// A field list, freed at the end of the scope unless released.
class List {
 public:
  explicit List(uint32_t records = 1, uint32_t flags = 0) {
    EXPECT_EQ(TWFieldlistAlloc(flowcore::Out(l_), records, flags), 0u);
  }
  // Takes a list made elsewhere (a merge).
  explicit List(TWFIELDLIST adopt, bool) : l_(adopt) {}
  List(List&& o) noexcept = default;
  operator TWFIELDLIST() const { return l_.get(); }
  // The handle slot of a call that makes a list (a merge) for this one to own.
  flowcore::OutSlot<flowcore::FieldlistPtr> out() { return flowcore::Out(l_); }
  TWFIELDLIST release() { return l_.release(); }

  TWFIELD Add(std::string_view name, uint32_t type) {
    Stream n(name);
    TWFIELD f = TWNULLHANDLE;
    EXPECT_EQ(TWFieldlistAppend(l_.get(), n.get(), type, &f), 0u) << name;
    return f;
  }
  std::string Name(uint32_t index) const {
    Stream n;
    EXPECT_EQ(TWFieldlistGetName(l_.get(), index, 0, n.get()), 0u);
    return n.bytes();
  }
  TWFIELD At(uint32_t index) const {
    TWFIELD f = TWNULLHANDLE;
    EXPECT_EQ(TWFieldlistGetField(l_.get(), index, 0, &f, nullptr), 0u);
    return f;
  }

 private:
  flowcore::FieldlistPtr l_;
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
