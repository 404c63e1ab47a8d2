// The end of an activity's links (see connections.h).
#include "connections.h"

namespace tw::activity {

uint32_t EndConnections(uint32_t status, std::initializer_list<flowcore::ConnectPtr*> connections) {
  for (flowcore::ConnectPtr* connection : connections) {
    const uint32_t ended = flowcore::EndConnection(*connection);
    // Logged before the next connection ends, so that it too is told the work failed.
    if (ended != TWSUCCESS && status == TWSUCCESS) status = TWActivityLog(ended);
  }
  return status;
}

uint32_t EndConnections(uint32_t status, std::initializer_list<flowcore::FieldlistPtr*> lists,
                        std::initializer_list<flowcore::ConnectPtr*> connections) {
  for (flowcore::FieldlistPtr* list : lists) list->reset();
  return EndConnections(status, connections);
}

}  // namespace tw::activity
