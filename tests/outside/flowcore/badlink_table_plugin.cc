// badlink_table.twx: a connector whose property table has an own row without a name.
#define TESTLINK_BAD_TABLE 1
#include "testlink_connector.h"
