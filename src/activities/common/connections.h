// The end of an activity's links: each connection disconnected and freed, and a disconnect
// that fails (a connector's final commit) made the run's failure.
#ifndef TW_ACTIVITIES_COMMON_CONNECTIONS_H_
#define TW_ACTIVITIES_COMMON_CONNECTIONS_H_

#include <cstdint>
#include <initializer_list>

#include "flowcore_ptr.h"

namespace tw::activity {

// Ends every connection held, in the order given, each with flowcore::EndConnection; the
// owners are empty afterwards. status is the run's status so far, logged already, so that
// the connections are told whether the work ended in error. Answers status when it is not 0,
// else the first failure of the ends, logged once (the connector has logged its detail).
[[nodiscard]] uint32_t EndConnections(uint32_t status,
                                      std::initializer_list<flowcore::ConnectPtr*> connections);
// The same after freeing the field lists held, in the order given (views before the lists
// they show).
[[nodiscard]] uint32_t EndConnections(uint32_t status,
                                      std::initializer_list<flowcore::FieldlistPtr*> lists,
                                      std::initializer_list<flowcore::ConnectPtr*> connections);

}  // namespace tw::activity

#endif  // TW_ACTIVITIES_COMMON_CONNECTIONS_H_
