// The formula language of the document database over any text: compiling answers 0 or a
// formula error with an offset inside the text (and leaves the output alone), and a compiled
// formula evaluates, selects and runs its FIELD statements against a document without
// crashing, giving values whose stored form reads back to the same bytes.
#include <time.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formula.h"
#include "formula_doc.h"
#include "fuzz_util.h"
#include "plexapi.h"
#include "value.h"

namespace {

using Doc = plexatest::FormulaDoc;
using plexa::Value;

const Doc& Sample() {
  static const Doc doc =
      Doc()
          .With("Form", Value::Text("Activity\\Admin"))
          .With("Name", Value::Text(""))
          .With("Qty", Value::Number(12))
          .With("Ratio", Value::Number(-0.5))
          .With("Tags", Value::TextList({"a", "B", "", "a"}))
          .With("Marks", Value::NumberList({1, 2.5, -3}))
          .With("Due", Value::Time(GVTIMEDATE{16 * 360000, 2460463u}))
          .With("Stamps",
                Value::TimeList({GVTIMEDATE{0, 2460000u}, GVTIMEDATE{8640000 - 1, 2460001u}}))
          .With("Body", Value::Composite(std::string("\x01\x00\x02\x00hi", 6)));
  return doc;
}

// The stored bytes of a value decode to a value that stores as the same bytes.
void CheckStoredForm(const Value& v) {
  if (v.unavailable) return;
  std::vector<uint8_t> bytes;
  const uint32_t st = plexa::EncodeItem(v, bytes);
  FUZZ_CHECK(st == 0 || st == GVERR_TOO_BIG);
  if (st != 0) return;
  Value back;
  FUZZ_CHECK(plexa::DecodeItem(v.type, std::span<const uint8_t>(bytes), back) == 0);
  std::vector<uint8_t> again;
  FUZZ_CHECK(plexa::EncodeItem(back, again) == 0);
  FUZZ_CHECK(again == bytes);
}

bool SameStored(const Value& a, const Value& b) {
  if (a.unavailable || b.unavailable) return a.unavailable == b.unavailable;
  return a.type == b.type && plexa::EncodeItem(a) == plexa::EncodeItem(b);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Times read in one fixed zone, numbers in the default settings (no plexa.ini is read).
  ::setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
  ::tzset();
  plexa::OverrideInternational(std::make_shared<plexa::International>());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  plexa::FormulaPtr formula;
  uint32_t offset = 0;
  FUZZ_CHECK(plexa::Compile("1", formula, offset) == 0 && formula);
  const plexa::Formula* before = formula.get();

  offset = 0;
  const uint32_t st = plexa::Compile(text, formula, offset);
  if (st != 0) {
    FUZZ_CHECK(st == GVERR_FORMULA);
    FUZZ_CHECK(formula.get() == before);
    FUZZ_CHECK(offset >= 1 && offset <= text.size() + 1);
    return 0;
  }
  FUZZ_CHECK(formula && formula.get() != before);

  const Doc& doc = Sample();
  Value value;
  const uint32_t evaluated = plexa::Evaluate(*formula, doc, value);
  FUZZ_CHECK(evaluated == 0 || evaluated == GVERR_FORMULA);
  if (evaluated == 0) {
    CheckStoredForm(value);
    // A compiled formula is immutable: a second evaluation gives the same value.
    Value again;
    FUZZ_CHECK(plexa::Evaluate(*formula, doc, again) == 0);
    FUZZ_CHECK(SameStored(value, again));
  }

  const bool selects = plexa::Selects(*formula, doc);
  if (plexa::SelectsAll(*formula)) FUZZ_CHECK(plexa::HasSelect(*formula) && selects);

  Doc copy = doc;
  const uint32_t executed = plexa::Execute(*formula, copy);
  FUZZ_CHECK(executed == 0 || executed == GVERR_FORMULA || executed == GVERR_READ_ONLY);
  return 0;
}
