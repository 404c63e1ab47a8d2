// The exported entry points of the ODBC connector sqlcli.twx: its identity record and the
// seventeen TWX calls over sqlcli::Connection.
#include "connection.h"
#include "twx_plugin.h"

TWX_CONNECTOR(sqlcli::Connection, sqlcli::kTraits)
