// A document for formula tests and the formula fuzz target: items by name, names compared
// without regard to ASCII case; the item ReadOnly refuses to be set, as a read-only
// document does.
#ifndef TW_TESTS_OUTSIDE_PLEXAPI_FORMULA_DOC_H_
#define TW_TESTS_OUTSIDE_PLEXAPI_FORMULA_DOC_H_

#include <map>
#include <string>
#include <string_view>

#include "formula.h"
#include "plexapi.h"
#include "value.h"

namespace plexatest {

class FormulaDoc : public plexa::ItemSink {
 public:
  FormulaDoc& With(const std::string& name, plexa::Value v) {
    items_[plexa::FoldAscii(name)] = std::move(v);
    return *this;
  }
  bool Find(std::string_view name, plexa::Value& out) const override {
    auto it = items_.find(plexa::FoldAscii(name));
    if (it == items_.end()) return false;
    out = it->second;
    return true;
  }
  uint32_t Set(std::string_view name, const plexa::Value& v) override {
    if (plexa::FoldAscii(name) == "readonly") return GVERR_READ_ONLY;
    items_[plexa::FoldAscii(name)] = v;
    return 0;
  }
  // The item, or null when the document has none.
  const plexa::Value* Get(const std::string& name) const {
    auto it = items_.find(plexa::FoldAscii(name));
    return it == items_.end() ? nullptr : &it->second;
  }

 private:
  std::map<std::string, plexa::Value> items_;
};

}  // namespace plexatest

#endif  // TW_TESTS_OUTSIDE_PLEXAPI_FORMULA_DOC_H_
