// The field-list mapping of the transfer activities (see field_map.h).
#include "field_map.h"

namespace tw::direct {

namespace {

// The value of MAP_NAME that asks for mapping through the name lists.
constexpr int32_t kMapByNameLists = 2;

}  // namespace

uint32_t MapFieldList(TWFIELDLIST list, uint32_t nameToken, uint32_t mapNameToken, MapSide side,
                      FieldlistPtr* names, FieldlistPtr* mapped) {
  names->reset();
  mapped->reset();
  OwnedStream entries;
  uint32_t count = 0;
  if (TWActivityGetPropertyStream(nameToken, TWSTREAMFMT_TEXT_LIST, entries.get()) == TWSUCCESS)
    count = TWTextListGetCount(entries.get());
  int32_t mapName = 0;
  if (count == 0 || TWActivityGetPropertyInt(mapNameToken, &mapName) != TWSUCCESS ||
      mapName != kMapByNameLists)
    return TWSUCCESS;

  TWFIELDLIST raw = TWNULLHANDLE;
  uint32_t status = TWFieldlistAlloc(&raw, 0, 0);
  FieldlistPtr nameList(raw);
  OwnedStream name;
  for (uint32_t i = 1; i <= count && status == TWSUCCESS; ++i) {
    status = TWTextListFetch(entries.get(), i, TWSTREAMFMT_QMBCS, name.get(), nullptr, nullptr);
    if (status == TWSUCCESS)
      status = TWFieldlistAppend(nameList.get(), name.get(), TWTYPE_TEXT, nullptr);
  }
  if (status != TWSUCCESS) return status;

  const uint32_t mode =
      side == MapSide::kSource ? TWMERGEF_MAP_NAME | TWMERGEF_DATA_LOSS : TWMERGEF_DATA_LOSS;
  TWFIELDLIST view = TWNULLHANDLE;
  status = TWFieldlistMerge(&view, nameList.get(), list, mode);
  FieldlistPtr merged(view);
  if (status != TWSUCCESS) return status;
  *names = std::move(nameList);
  *mapped = std::move(merged);
  return TWSUCCESS;
}

}  // namespace tw::direct
