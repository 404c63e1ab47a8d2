// The exported entry points of the Oracle connector oracle.twx: its identity record and the
// seventeen TWX calls over oracle::Connection.
#include "connection.h"
#include "twx_plugin.h"

TWX_CONNECTOR(oracle::Connection, oracle::kTraits)
