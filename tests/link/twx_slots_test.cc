// The block look-up of a field's storage: each record's value and null word where the engine
// gives them, and, for a run reaching past the field's values, the engine's own answer for
// each record.
#include "twx_slots.h"

#include <gtest/gtest.h>

#include "flowcore.h"

namespace {

TEST(FieldSlots, EachRecordAsTheEngineGivesIt) {
  const struct {
    uint32_t type;
    uint32_t values;  // in the field
    uint32_t first, count;
  } cases[] = {
      {TWTYPE_INT, 5, 1, 5},  {TWTYPE_INT, 5, 2, 3},     {TWTYPE_DATETIME, 4, 4, 1},
      {TWTYPE_TEXT, 6, 1, 6}, {TWTYPE_NUMERIC, 3, 2, 2}, {TWTYPE_FLOAT, 5, 4, 3},
      {TWTYPE_TEXT, 2, 1, 4}, {TWTYPE_INT, 3, 0, 2},
  };
  for (const auto& c : cases) {
    TWFIELD field = TWNULLHANDLE;
    ASSERT_EQ(TWFieldAlloc(&field, c.type, c.values), TWSUCCESS);
    twx::FieldSlots slots;
    slots.Reset(field, c.first, c.count);
    for (uint32_t k = 0; k < c.count; ++k) {
      void *value = nullptr, *expectedValue = nullptr;
      int32_t *isNull = nullptr, *expectedNull = nullptr;
      const uint32_t expected = TWFieldGetBuffer(field, c.first + k, &expectedValue, &expectedNull);
      EXPECT_EQ(slots.Get(k, &value, &isNull), expected) << c.type << " record " << c.first + k;
      if (expected != TWSUCCESS) continue;
      EXPECT_EQ(value, expectedValue) << c.type << " record " << c.first + k;
      EXPECT_EQ(isNull, expectedNull) << c.type << " record " << c.first + k;
    }
    TWFieldFree(field);
  }
}

}  // namespace
