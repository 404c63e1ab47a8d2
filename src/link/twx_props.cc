// The connector helpers of twx_props.h: the per-kind property rules, the unknown-token answer,
// the key-term operator rule and the identity copy.
#include "twx_props.h"

namespace tw::twx {

void StoreText(TWStream* slot, TWFIELD src, uint32_t format) {
  int32_t isNull = 1;
  if (TWFieldGetStream(src, 1, format, slot, &isNull) != TWSUCCESS || isNull != 0)
    TWStreamDataFree(slot);
}

void StoreInt(int32_t* slot, TWFIELD src) {
  int32_t isNull = 1;
  if (TWFieldGetInt(src, 1, slot, &isNull) != TWSUCCESS || isNull != 0) *slot = 0;
}

void StoreFlag(int32_t* slot, TWFIELD src) {
  int32_t value = 0;
  int32_t isNull = 1;
  if (TWFieldGetInt(src, 1, &value, &isNull) == TWSUCCESS && isNull == 0) *slot = value != 0;
}

void StoreDatetime(TWDatetime* slot, TWFIELD src) {
  int32_t isNull = 1;
  if (TWFieldGetDatetime(src, 1, slot, &isNull) != TWSUCCESS || isNull != 0) TWDatetimeClear(slot);
}

uint32_t GiveStream(TWFIELD dest, const TWStream* slot) {
  return TWFieldSetStream(dest, 1, slot);
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

uint32_t InvalidProperty(uint32_t token) {
  return TWActivityLogEx(TWFAIL_INVALID_PROPERTY, token, 0, 0, nullptr, nullptr, nullptr);
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

uint32_t Identify(const TWXIdentity& identity, TWXIdentity* out) noexcept {
  if (out == nullptr) return TWFAIL_NULL_RESULT;
  *out = identity;
  return TWSUCCESS;
}

}  // namespace tw::twx
