// The current activity as the rest of the engine sees it: whether there is one, its close
// request and status, its property values by token and its launched plug-in.
#ifndef TW_FLOWCORE_ACTIVITY_H_
#define TW_FLOWCORE_ACTIVITY_H_

#include <cstdint>
#include <string>

#include "flowcore.h"

namespace tw::engine {

struct Plugin;

bool HasActivity();
// 0, 1542 (TWCLOSE_REQUESTED) or 1543 (TWCLOSE_TIMEOUT), read from the run-table entry.
uint32_t CloseStatus();
// The activity's status (its last failure not cleared); 0 without an activity.
uint32_t ActivityStatus();
// The activity's own value of token exactly, with the link-1 alias of predefined and control
// tokens; null when it has none. The field stays valid until the activity changes the value
// or ends; callers on other threads copy it before the next activity call.
const TWFieldImpl* ActivityValue(uint32_t token);
// The activity's plug-in; null before TWActivityLaunch.
const Plugin* ActivityPlugin();
// The name of an added property's token; empty when token names none.
std::string AddedPropertyName(uint32_t token);
// Ends the current activity, if any, without reporting to the control store (TWSystemTerm).
void EndActivity();

}  // namespace tw::engine

#endif  // TW_FLOWCORE_ACTIVITY_H_
