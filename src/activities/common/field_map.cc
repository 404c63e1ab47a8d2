// The field-list mapping of the transfer activities (see field_map.h).
#include "field_map.h"

namespace tw::activity {

namespace {

// The value of MAP_NAME that asks for mapping through the name lists.
constexpr int32_t kMapByNameLists = 2;

}  // namespace

uint32_t MapFieldList(TWFIELDLIST list, uint32_t nameToken, uint32_t mapNameToken, MapSide side,
                      FieldlistPtr* names, FieldlistPtr* mapped) {
  names->reset();
  mapped->reset();
  flowcore::StreamData entries(TWSTREAMFMT_NATIVE);
  uint32_t count = 0;
  if (TWActivityGetPropertyStream(nameToken, TWSTREAMFMT_TEXT_LIST, entries.get()) == TWSUCCESS)
    count = TWTextListGetCount(entries.get());
  int32_t mapName = 0;
  if (count == 0 || TWActivityGetPropertyInt(mapNameToken, &mapName) != TWSUCCESS ||
      mapName != kMapByNameLists)
    return TWSUCCESS;

  FieldlistPtr nameList;
  uint32_t status = TWFieldlistAlloc(flowcore::Out(nameList), 0, 0);
  flowcore::StreamData name(TWSTREAMFMT_NATIVE);
  for (uint32_t i = 1; i <= count && status == TWSUCCESS; ++i) {
    status = TWTextListFetch(entries.get(), i, TWSTREAMFMT_QMBCS, name.get(), nullptr, nullptr);
    if (status == TWSUCCESS)
      status = TWFieldlistAppend(nameList.get(), name.get(), TWTYPE_TEXT, nullptr);
  }
  if (status != TWSUCCESS) return status;

  const uint32_t mode =
      side == MapSide::kSource ? TWMERGEF_MAP_NAME | TWMERGEF_DATA_LOSS : TWMERGEF_DATA_LOSS;
  FieldlistPtr merged;
  status = TWFieldlistMerge(flowcore::Out(merged), nameList.get(), list, mode);
  if (status != TWSUCCESS) return status;
  *names = std::move(nameList);
  *mapped = std::move(merged);
  return TWSUCCESS;
}

}  // namespace tw::activity
