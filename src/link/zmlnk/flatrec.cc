// The exported entry points of the text-file connector flatrec.twx: its identity record and
// the seventeen TWX calls over flatrec::Connection.
#include "connection.h"
#include "twx_plugin.h"

TWX_CONNECTOR(flatrec::Connection, flatrec::kTraits)
