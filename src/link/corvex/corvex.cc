// The exported entry points of the Corvex connector corvex.twx: its identity record and the
// seventeen TWX calls over corvex::Connection.
#include "connection.h"
#include "twx_plugin.h"

TWX_CONNECTOR(corvex::Connection, corvex::kTraits)
