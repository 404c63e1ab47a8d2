// The field-list mapping that the transfer activities (direct, relay) share: a transfer list
// presented through the names of one of the activity's text-list properties.
#ifndef TW_ACTIVITIES_COMMON_FIELD_MAP_H_
#define TW_ACTIVITIES_COMMON_FIELD_MAP_H_

#include <cstdint>

#include "flowcore_ptr.h"

namespace tw::activity {

using flowcore::FieldlistPtr;

// Which side a name list maps: the source side pairs the list's fields by name and lets
// unnamed ones drop out (TWMERGEF_MAP_NAME | TWMERGEF_DATA_LOSS); the destination side
// renames them by position (TWMERGEF_DATA_LOSS).
enum class MapSide { kSource, kDestination };

// Maps list through the names of the current activity's text-list property nameToken. No
// mapping takes place (both outputs stay empty, answer 0) when that property is missing or
// empty, or when the destination link's MAP_NAME (mapNameToken) does not read as 2.
// Otherwise *names receives the name list built from the property and *mapped the view of
// list laid out by it; the caller then uses mapped in place of list. Answers 0 or the
// engine's status, with both outputs empty after a failure.
[[nodiscard]] uint32_t MapFieldList(TWFIELDLIST list, uint32_t nameToken, uint32_t mapNameToken,
                                    MapSide side, FieldlistPtr* names, FieldlistPtr* mapped);

}  // namespace tw::activity

#endif  // TW_ACTIVITIES_COMMON_FIELD_MAP_H_
