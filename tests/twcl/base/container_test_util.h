// Helpers for the container tests: two small storable classes that count their live
// instances (one ordered by value, one by address only), stored-form snapshots and the
// checks every stored-form reader must pass.
#ifndef TW_TESTS_TWCL_BASE_CONTAINER_TEST_UTIL_H_
#define TW_TESTS_TWCL_BASE_CONTAINER_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base_test_util.h"
#include "twcl/base/class_registry.h"
#include "twcl/base/object_stream.h"
#include "twcl/base/string.h"

namespace twcl_test {

// Stored form: id 1101, value (4). Ordered by value within the class.
class Tag : public StoredValue<1101> {
 public:
  using CL_Object::operator=;
  static inline int live = 0;

  explicit Tag(CL_Long v = 0) : StoredValue(v) { ++live; }
  Tag(const Tag& other) : StoredValue(other) { ++live; }
  Tag& operator=(const Tag& other) {
    value = other.value;
    return *this;
  }
  ~Tag() override { --live; }

  const char* ClassName() const override { return "Tag"; }
  CL_Object* Clone() const override { return new Tag(*this); }
  short Compare(const CL_Object& other) const override {
    const auto* tag = dynamic_cast<const Tag*>(&other);
    if (tag == nullptr) return CL_Object::Compare(other);
    return static_cast<short>((value > tag->value) - (value < tag->value));
  }
  bool operator==(const CL_Object& other) const override { return Compare(other) == 0; }
  CL_String AsString() const override { return CL_String(std::to_string(value).c_str()); }
  CL_Long StorableFormWidth() const override { return 8; }
};

// Like Tag (id 1102) but without a Compare of its own: its objects order by address.
class Plain : public StoredValue<1102> {
 public:
  using CL_Object::operator=;
  static inline int live = 0;

  explicit Plain(CL_Long v = 0) : StoredValue(v) { ++live; }
  Plain(const Plain&) = delete;
  Plain& operator=(const Plain&) = delete;
  ~Plain() override { --live; }

  const char* ClassName() const override { return "Plain"; }
};

inline const CL_ClassIdEntry tag_entry(Tag::kId, []() -> CL_Object* { return new Tag; });
inline const CL_ClassIdEntry plain_entry(Plain::kId, []() -> CL_Object* { return new Plain; });

inline int LiveObjects() {
  return Tag::live + Plain::live;
}

// The stored form of an object as its WriteTo writes it: a fingerprint of its value.
inline Bytes Stored(const CL_Object& object) {
  VectorStream s;
  EXPECT_TRUE(object.WriteTo(s)) << object.ClassName();
  return s.bytes;
}

// The form of an object written by pointer ('O', id, body).
inline Bytes ByPointer(const CL_Object& object) {
  VectorStream s;
  EXPECT_TRUE(s.Write(&object));
  return s.bytes;
}

inline Bytes Flag(char flag) {
  return {static_cast<unsigned char>(flag), 0};
}

inline Bytes TagForm(CL_Long value) {
  return Cat({Flag('O'), LE(Tag::kId), LE(Tag::kId), LE(value)});
}

// Every proper prefix of bytes is refused: ReadFrom answers false, the target keeps its
// stored form, every object the read created is gone, and nothing warns.
inline void ExpectEveryTruncationRefused(CL_Object& target, const Bytes& bytes) {
  const Bytes before = Stored(target);
  const int live = LiveObjects();
  WarningCapture warnings;
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    VectorStream s(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)));
    EXPECT_FALSE(target.ReadFrom(s)) << target.ClassName() << ": prefix of " << n << " bytes";
    EXPECT_EQ(Stored(target), before) << "prefix of " << n << " bytes";
    EXPECT_EQ(LiveObjects(), live) << "prefix of " << n << " bytes";
  }
  EXPECT_TRUE(warnings.texts().empty());
}

// The count field at offset replaced by values that cannot be right is refused at once.
inline void ExpectCorruptCountsRefused(CL_Object& target, const Bytes& bytes, std::size_t offset) {
  const Bytes before = Stored(target);
  const int live = LiveObjects();
  std::int32_t stored;
  {
    VectorStream s(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset), bytes.end()));
    ASSERT_TRUE(s.ReadLong(stored));
  }
  for (const std::int32_t count : {-1, INT32_MAX, INT32_MIN, stored + 1}) {
    Bytes corrupt = bytes;
    const Bytes field = LE(count);
    std::copy(field.begin(), field.end(), corrupt.begin() + static_cast<std::ptrdiff_t>(offset));
    VectorStream s(corrupt);
    EXPECT_FALSE(target.ReadFrom(s)) << target.ClassName() << ": count " << count;
    EXPECT_EQ(Stored(target), before) << "count " << count;
    EXPECT_EQ(LiveObjects(), live) << "count " << count;
  }
}

}  // namespace twcl_test

#endif  // TW_TESTS_TWCL_BASE_CONTAINER_TEST_UTIL_H_
