// Steps the transfer activities (direct, relay) share on their transfer list and destination.
#ifndef TW_ACTIVITIES_COMMON_DESTINATION_H_
#define TW_ACTIVITIES_COMMON_DESTINATION_H_

#include <cstdint>

#include "flowcore.h"

namespace tw::activity {

// The transfer list's field flags from the activity's boolean properties: TWFIELDF_TRUNC_PREC
// unless truncPrecToken is false, TWFIELDF_TRUNC_DATA when truncDataToken is true.
uint32_t TransferFlags(uint32_t truncPrecToken, uint32_t truncDataToken);

// Empties the destination. One that does not exist yet is no failure: its note is cleared
// and *missing set, so that the caller creates it with the first records. Answers 0 or the
// connector's status.
[[nodiscard]] uint32_t EmptyDestination(TWCONNECT dest, bool* missing);

}  // namespace tw::activity

#endif  // TW_ACTIVITIES_COMMON_DESTINATION_H_
