// The exported entry points of the Ordex connector ordex.twx: its identity record and the
// seventeen TWX calls over ordex::Connection.
#include "connection.h"
#include "twx_plugin.h"

TWX_CONNECTOR(ordex::Connection, ordex::kTraits)
