// The key fields an activity names (see key_fields.h).
#include "key_fields.h"

#include "flowcore_ptr.h"

namespace tw::activity {

namespace {

constexpr size_t kMaxName = 256;

uint32_t LogName(uint32_t status, const TWStream* name) {
  return TWActivityLogEx(status, 0, 0, 0, name, nullptr, nullptr);
}

}  // namespace

uint32_t MarkKeyFields(TWFIELDLIST list, uint32_t token, NoKeys none, KeyFields* keys) {
  flowcore::StreamData names(TWSTREAMFMT_NATIVE), name(TWSTREAMFMT_NATIVE);
  uint32_t count = 0;
  if (TWActivityGetPropertyStream(token, TWSTREAMFMT_TEXT_LIST, names.get()) == TWSUCCESS)
    count = TWTextListGetCount(names.get());
  if (count == 0) {
    if (none == NoKeys::kMissingProperty)
      return TWActivityLogEx(TWFAIL_MISSING_PROPERTY, token, 0, 0, nullptr, nullptr, nullptr);
    return LogName(TWFAIL_INVALID_KEY, name.get());
  }
  for (uint32_t i = 1; i <= count; ++i) {
    TWFIELD field = TWNULLHANDLE;
    uint32_t status =
        TWTextListFetch(names.get(), i, TWSTREAMFMT_NATIVE, name.get(), nullptr, nullptr);
    if (status != TWSUCCESS) return TWActivityLog(status);
    if (name.view().size() > kMaxName ||
        TWFieldlistLookup(list, name.get(), &field, nullptr) != TWSUCCESS)
      return LogName(TWFAIL_INVALID_KEY, name.get());
    const uint32_t flags = TWFieldGetFlags(field);
    if (flags & TWFIELDF_KEY) return LogName(TWFAIL_DUPLICATE_KEY, name.get());
    status = TWFieldSetFlags(field, flags | TWFIELDF_KEY | TWFIELDF_NO_UPDATE);
    if (status != TWSUCCESS) return TWActivityLog(status);
    keys->fields.push_back(field);
    keys->names.emplace_back(name.view());
  }
  return TWSUCCESS;
}

}  // namespace tw::activity
