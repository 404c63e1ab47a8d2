// The key fields an activity names in a text-list property, marked in its field list.
#ifndef TW_ACTIVITIES_COMMON_KEY_FIELDS_H_
#define TW_ACTIVITIES_COMMON_KEY_FIELDS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "flowcore.h"

namespace tw::activity {

struct KeyFields {
  std::vector<TWFIELD> fields;     // the list's, in the order named
  std::vector<std::string> names;  // as named, native text
};

// Marks the fields of list named by the current activity's text-list property token as keys
// (TWFIELDF_KEY | TWFIELDF_NO_UPDATE added), in the order named, into *keys. Each failure is
// logged with its name and answered: no names, missing (missing property) for token, else
// TWFAIL_INVALID_KEY with an empty name; a name that is no field of list (or longer than 256
// characters) TWFAIL_INVALID_KEY; a field named twice, or already a key,
// TWFAIL_DUPLICATE_KEY.
enum class NoKeys { kMissingProperty, kInvalidKey };
[[nodiscard]] uint32_t MarkKeyFields(TWFIELDLIST list, uint32_t token, NoKeys none,
                                     KeyFields* keys);

}  // namespace tw::activity

#endif  // TW_ACTIVITIES_COMMON_KEY_FIELDS_H_
