// The connector helpers of twx_props.h: the per-kind property rules, the unknown-token and
// bad-value answers, and the key-term operator rule.
#include "twx_props.h"

#include <cstring>

namespace tw::twx {

namespace {

// Frees an engine stream on every way out, a failed allocation of the copy included.
class StreamHold {
 public:
  StreamHold() = default;
  ~StreamHold() { TWStreamDataFree(&stream_); }
  StreamHold(const StreamHold&) = delete;
  StreamHold& operator=(const StreamHold&) = delete;
  TWStream* get() { return &stream_; }

 private:
  TWStream stream_{};
};

}  // namespace

Stored StoreText(TWStream* slot, TWFIELD src, uint32_t format) {
  Stored stored;
  int32_t isNull = 1;
  stored.read = TWFieldGetStream(src, 1, format, slot, &isNull);
  stored.assigned = stored.read == TWSUCCESS && isNull == 0;
  if (!stored.assigned) TWStreamDataFree(slot);
  return stored;
}

Stored StoreString(std::string* slot, TWFIELD src, bool keepOnNull, int32_t longest) {
  Stored stored;
  int32_t isNull = 1;
  StreamHold value;
  stored.read = TWFieldGetStream(src, 1, TWSTREAMFMT_NATIVE, value.get(), &isNull);
  stored.assigned = stored.read == TWSUCCESS && isNull == 0;
  std::string_view text;
  if (stored.assigned && value.get()->data != nullptr)
    text = std::string_view(static_cast<const char*>(value.get()->data), value.get()->length);
  // A text that does not fit is refused, never cut.
  stored.refused = longest >= 0 && text.size() > static_cast<size_t>(longest);
  if (!stored.refused && (stored.assigned || !keepOnNull)) slot->assign(text);
  return stored;
}

Stored StoreInt(int32_t* slot, TWFIELD src, bool keepOnNull, int32_t least, int32_t most) {
  Stored stored;
  int32_t value = 0;
  int32_t isNull = 1;
  stored.read = TWFieldGetInt(src, 1, &value, &isNull);
  stored.assigned = stored.read == TWSUCCESS && isNull == 0;
  if (!stored.assigned) {
    if (!keepOnNull) *slot = 0;
    return stored;
  }
  stored.refused = value < least || value > most;
  if (!stored.refused) *slot = value;
  return stored;
}

Stored StoreFlag(int32_t* slot, TWFIELD src) {
  Stored stored;
  int32_t value = 0;
  int32_t isNull = 1;
  stored.read = TWFieldGetInt(src, 1, &value, &isNull);
  stored.assigned = stored.read == TWSUCCESS && isNull == 0;
  if (stored.assigned) *slot = value != 0;
  return stored;
}

Stored StoreDatetime(TWDatetime* slot, TWFIELD src) {
  Stored stored;
  int32_t isNull = 1;
  stored.read = TWFieldGetDatetime(src, 1, slot, &isNull);
  stored.assigned = stored.read == TWSUCCESS && isNull == 0;
  if (!stored.assigned) TWDatetimeClear(slot);
  return stored;
}

uint32_t GiveStream(TWFIELD dest, const TWStream* slot) {
  return TWFieldSetStream(dest, 1, slot);
}

uint32_t GiveString(TWFIELD dest, std::string_view text) {
  // The engine copies the bytes; the stream only lends them.
  const TWStream view{0, 0, TWSTREAMFMT_NATIVE, static_cast<uint32_t>(text.size()),
                      const_cast<char*>(text.data())};
  return TWFieldSetStream(dest, 1, &view);
}

uint32_t GiveInt(TWFIELD dest, int32_t value) {
  return TWFieldSetInt(dest, 1, &value);
}

uint32_t GiveDatetime(TWFIELD dest, const TWDatetime* slot) {
  TWDatetime value = *slot;
  if (value.ticks == 0 && value.date == 0) {
    TWDatetimeClear(&value);
    TWDatetimeSetJulian(&value, TWDTNULL_DATE);
    TWDatetimeSetTicks(&value, TWDTNULL_TIME);
  }
  return TWFieldSetDatetime(dest, 1, &value);
}

void ResetText(TWStream* slot, const char* text) {
  TWStreamDataFree(slot);
  if (text != nullptr && *text != '\0')
    TWStreamDataSet(slot, TWSTREAMFMT_NATIVE, text, static_cast<uint32_t>(std::strlen(text)));
}

uint32_t InvalidProperty(uint32_t token) {
  return TWActivityLogEx(TWFAIL_INVALID_PROPERTY, token, 0, 0, nullptr, nullptr, nullptr);
}

uint32_t InvalidValue(uint32_t token) {
  return TWActivityLogEx(TWFAIL_PROPERTY_VALUE, token, 0, 0, nullptr, nullptr, nullptr);
}

std::string_view KeyOperator(uint32_t flags, KeyOrder order) {
  if ((flags & TWFIELDF_KEY) == 0) return {};
  const bool gt = (flags & TWFIELDF_KEY_GT) != 0;
  const bool lt = (flags & TWFIELDF_KEY_LT) != 0;
  const bool ne = (flags & TWFIELDF_KEY_NE) != 0;
  const bool greater = gt && !(order == KeyOrder::kLessFirstWhenNotEqual && ne && lt);
  if (greater) return ne ? ">" : ">=";
  if (lt) return ne ? "<" : "<=";
  return ne ? "<>" : "=";
}

uint32_t ForEachKeyTerm(TWFIELDLIST list, uint32_t nameFormat, KeyTermFn term, void* user,
                        KeyOrder order) {
  if (term == nullptr) return TWFAIL_NULL_BUFFER;
  const uint32_t count = TWFieldlistGetCount(list);
  uint32_t status = TWSUCCESS;
  TWStream name{};
  for (uint32_t i = 1; i <= count && status == TWSUCCESS; ++i) {
    TWFIELD field = TWNULLHANDLE;
    status = TWFieldlistGetField(list, i, 0, &field, nullptr);
    if (status != TWSUCCESS) break;
    const std::string_view op = KeyOperator(TWFieldGetFlags(field), order);
    if (op.empty()) continue;
    status = TWFieldlistGetName(list, i, nameFormat, &name);
    if (status == TWSUCCESS) status = term(user, field, i, name, op);
  }
  TWStreamDataFree(&name);
  return status;
}

}  // namespace tw::twx
