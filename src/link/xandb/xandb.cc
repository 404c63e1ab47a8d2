// The exported entry points of the Xandb connector xandb.twx: its identity record and the
// seventeen TWX calls over xandb::Connection.
#include "connection.h"
#include "twx_plugin.h"

TWX_CONNECTOR(xandb::Connection, xandb::kTraits)
